// addin-host: loads a Native API add-in as the 1C platform does and runs commands on one
// component, printing every result, error report and message.
#include "tools/addin-host/addin_host.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace addinhost;

namespace {

const char kUsage[] = "usage: addin-host [--quiet] [--keep-going] [--list] LIBRARY COMMAND...\n"
                      "options:\n"
                      "  --keep-going           go on after a call whose CallAsFunc is false (without it the\n"
                      "                         commands stop at that call)\n"
                      "  --quiet                calls printed without their arguments\n"
                      "commands, run in order on one component:\n"
                      "  --list                 class names, methods and properties in both languages\n"
                      "  get NAME               read a property (English or Russian name)\n"
                      "  set NAME VALUE         write a property\n"
                      "  call NAME [ARG...]     call a method; every argument is passed by reference\n"
                      "  --script FILE          commands from FILE, one per line, '#' starts a comment\n"
                      "values: i4:5  r8:10.5  bool:true  str:text  empty\n"
                      "exit status: 0 every CallAsFunc true (a method whose result is BOOL false still gives 0:\n"
                      "             read its \"result\"), 1 a call's CallAsFunc false, 2 usage or load error,\n"
                      "             3 host memory not returned, or a string not in host memory\n";

struct Command {
    std::string kind; // list, get, set, call, script
    std::string name;
    std::vector<std::string> args;
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool isCommandWord(const std::string& t)
{
    return t == "--list" || t == "get" || t == "set" || t == "call" || t == "--script";
}

std::vector<Command> parseCommands(const std::vector<std::string>& tokens)
{
    std::vector<Command> out;
    std::size_t i = 0;
    auto need = [&](const char* what) -> const std::string& {
        if (i >= tokens.size()) throw UsageError(std::string("missing ") + what);
        return tokens[i++];
    };
    while (i < tokens.size()) {
        const std::string word = tokens[i++];
        Command c;
        if (word == "--list") {
            c.kind = "list";
        } else if (word == "get") {
            c.kind = "get";
            c.name = need("property name");
        } else if (word == "set") {
            c.kind = "set";
            c.name = need("property name");
            c.args.push_back(need("value"));
        } else if (word == "call") {
            c.kind = "call";
            c.name = need("method name");
            Value v;
            while (i < tokens.size() && !isCommandWord(tokens[i]) && Value::parse(tokens[i], v))
                c.args.push_back(tokens[i++]);
            if (i < tokens.size() && !isCommandWord(tokens[i]))
                throw UsageError("bad argument for " + c.name + ": " + tokens[i]);
        } else if (word == "--script") {
            c.kind = "script";
            c.name = need("script file");
        } else {
            throw UsageError("unknown command: " + word);
        }
        out.push_back(std::move(c));
    }
    return out;
}

// Splits a script line: blanks separate words, double quotes group (a backslash escapes
// a quote or a backslash inside them), "#" at the start of a word ends the line.
std::vector<std::string> splitLine(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) word += line[++i];
            else if (c == '"') quoted = false;
            else word += c;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word), word.clear(), inWord = false;
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == '"') {
            quoted = inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) throw UsageError("unterminated quote in: " + line);
    if (inWord) words.push_back(word);
    return words;
}

std::vector<Command> readScript(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw UsageError("cannot read script " + path);
    std::vector<std::string> tokens;
    std::vector<Command> out;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> words = splitLine(line);
        if (words.empty()) continue;
        std::vector<Command> cmds = parseCommands(words);
        out.insert(out.end(), cmds.begin(), cmds.end());
    }
    return out;
}

Value parseValue(const std::string& token)
{
    Value v;
    if (!Value::parse(token, v)) throw UsageError("bad value: " + token);
    return v;
}

void printErrors(const std::vector<ErrorRecord>& errors, const std::vector<std::u16string>& alerts)
{
    for (const ErrorRecord& e : errors)
        std::cout << "  AddError: wcode " << e.wcode << ", scode " << e.scode << ", source \"" << toUtf8(e.source)
                  << "\", \"" << toUtf8(e.description) << "\"\n";
    for (const std::u16string& a : alerts) std::cout << "  Alert: \"" << toUtf8(a) << "\"\n";
}

void list(AddinHost& host, Component& comp)
{
    std::cout << "Class names: " << toUtf8(host.classNames()) << "\n";
    std::cout << "Extension name: " << toUtf8(host.extensionName()) << "\n";
    std::cout << "GetInfo: " << comp.raw()->GetInfo() << "\n";
    const std::vector<MemberInfo> methods = comp.methods();
    std::cout << "Methods: " << methods.size() << "\n";
    for (const MemberInfo& m : methods) {
        char index[16];
        std::snprintf(index, sizeof index, "%4ld", m.index);
        std::cout << index << "  " << toUtf8(m.english) << " | " << toUtf8(m.russian) << " | params " << m.params
                  << (m.hasRetVal ? " | returns a value" : "") << "\n";
    }
    const std::vector<MemberInfo> props = comp.properties();
    std::cout << "Properties: " << props.size() << "\n";
    for (const MemberInfo& p : props) {
        char index[16];
        std::snprintf(index, sizeof index, "%4ld", p.index);
        std::cout << index << "  " << toUtf8(p.english) << " | " << toUtf8(p.russian) << " | "
                  << (p.readable ? "R" : "") << (p.writable ? "W" : "") << "\n";
    }
}

// Runs one command; false when a call failed.
bool run(AddinHost& host, Component& comp, const Command& c, bool quiet, bool keepGoing, int depth)
{
    if (c.kind == "list") {
        list(host, comp);
        return true;
    }
    if (c.kind == "script") {
        if (depth > 8) throw UsageError("scripts nested too deeply");
        bool ok = true;
        for (const Command& inner : readScript(c.name)) {
            if (run(host, comp, inner, quiet, keepGoing, depth + 1)) continue;
            ok = false;
            if (!keepGoing) break;
        }
        return ok;
    }
    if (c.kind == "get") {
        const PropertyResult r = comp.get(c.name);
        std::cout << "get " << c.name << ": ";
        if (r.ok) std::cout << r.value.describe() << "\n";
        else std::cout << "GetPropVal false\n";
        printErrors(r.errors, {});
        return true;
    }
    if (c.kind == "set") {
        const bool ok = comp.set(c.name, parseValue(c.args.at(0)));
        std::cout << "set " << c.name << " " << c.args.at(0) << ": " << (ok ? "ok" : "SetPropVal false") << "\n";
        return true;
    }
    std::vector<Value> args;
    for (const std::string& a : c.args) args.push_back(parseValue(a));
    const CallResult r = comp.call(c.name, args);
    std::cout << "call " << c.name;
    if (!quiet)
        for (const std::string& a : c.args) std::cout << " " << a;
    std::cout << ": CallAsFunc " << (r.ok ? "true" : "false") << ", result " << r.result.describe() << "\n";
    for (std::size_t i = 0; i < r.args.size(); ++i)
        if (r.changed[i]) std::cout << "  arg " << i << ": " << r.args[i].describe() << "\n";
    printErrors(r.errors, r.alerts);
    return r.ok;
}

} // namespace

int main(int argc, char** argv)
{
    bool quiet = false, keepGoing = false, listFirst = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quiet") quiet = true;
        else if (a == "--keep-going") keepGoing = true;
        else if (a == "--list") listFirst = true; // also accepted before the library
        else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else break;
    }
    if (i >= argc) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string library = argv[i++];
    std::vector<Command> commands;
    try {
        commands = parseCommands(std::vector<std::string>(argv + i, argv + argc));
        if (listFirst) commands.insert(commands.begin(), Command{"list", {}, {}});
        if (commands.empty()) throw UsageError("no command");
    } catch (const UsageError& e) {
        std::cerr << "addin-host: " << e.what() << "\n" << kUsage;
        return 2;
    }

    int status = 0;
    try {
        AddinHost host(library);
        {
            Component comp = host.create();
            if (!quiet) std::cout << "Library: " << library << "\n";
            for (const Command& c : commands) {
                if (!run(host, comp, c, quiet, keepGoing, 0)) {
                    status = 1;
                    if (!keepGoing) break;
                }
            }
        }
        MemoryManager& m = host.memory();
        std::cout << "Memory: allocated " << m.allocations() << ", freed " << m.frees() << ", outstanding "
                  << m.outstanding() << " (" << m.outstandingBytes() << " bytes)";
        if (m.badFrees()) std::cout << ", bad frees " << m.badFrees();
        if (m.foreignStrings()) std::cout << ", strings not from AllocMemory " << m.foreignStrings();
        std::cout << "\n";
        if ((m.outstanding() || m.badFrees() || m.foreignStrings()) && status == 0) status = 3;
    } catch (const UsageError& e) {
        std::cerr << "addin-host: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "addin-host: " << e.what() << "\n";
        return 2;
    }
    return status;
}
