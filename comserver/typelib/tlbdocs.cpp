// Build-time helper for the type library (runs on the build machine, not on Windows).
//
// The IDL compiler refuses doc strings on enum constants, yet the library carries
// one for each constant. The IDL keeps them as [helpstring("...")] in front of the
// constants; this tool moves them out of the compiler's way and puts them into the
// compiled library afterwards.
//
//   tlbdocs strip IN.idl OUT.idl DOCS.txt
//       Copies IN.idl to OUT.idl without the helpstring attributes of enum constants and
//       writes one line "Enum<TAB>Constant<TAB>text" per removed doc string.
//   tlbdocs patch IN.tlb DOCS.txt OUT.tlb
//       Gives the named constants of IN.tlb (an MSFT type library) their doc strings,
//       taken byte for byte from DOCS.txt (so DOCS.txt must already be in the code page
//       the library's strings use), and writes OUT.tlb.
//
// The patch appends the texts to the string segment and widens each variable record
// of the enums concerned by its optional help-context and help-string fields; every
// file offset behind a change is moved accordingly.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& msg)
{
    std::cerr << "tlbdocs: " << msg << "\n";
    std::exit(1);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) fail("cannot write " + path);
}

bool isIdent(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// ---- strip ---------------------------------------------------------------------------

// Reads a C string literal starting at text[pos] == '"'; returns the raw contents
// (escapes kept as written) and moves pos past the closing quote.
std::string readLiteral(const std::string& text, size_t& pos)
{
    std::string out;
    ++pos;
    while (pos < text.size() && text[pos] != '"') {
        if (text[pos] == '\\' && pos + 1 < text.size()) out += text[pos++];
        out += text[pos++];
    }
    if (pos >= text.size()) fail("unterminated string literal");
    ++pos;
    return out;
}

int strip(const std::string& inPath, const std::string& outPath, const std::string& docsPath)
{
    const std::string text = readFile(inPath);
    std::string out, docs;
    size_t pos = 0;
    std::string enumName; // non-empty while inside the braces of an enum
    bool expectEnumBrace = false;
    while (pos < text.size()) {
        char c = text[pos];
        if (c == '/' && pos + 1 < text.size() && text[pos + 1] == '/') { // line comment
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            out.append(text, pos, end - pos);
            pos = end;
            continue;
        }
        if (c == '"') {
            size_t start = pos;
            readLiteral(text, pos);
            out.append(text, start, pos - start);
            continue;
        }
        if (isIdent(c)) {
            size_t start = pos;
            while (pos < text.size() && isIdent(text[pos])) ++pos;
            std::string word = text.substr(start, pos - start);
            out += word;
            if (word == "enum" && enumName.empty()) {
                // "enum NAME {": remember the tag.
                size_t p = pos;
                while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
                size_t s = p;
                while (p < text.size() && isIdent(text[p])) ++p;
                if (p > s) {
                    out.append(text, pos, p - pos);
                    pos = p;
                    enumName = text.substr(s, p - s);
                    expectEnumBrace = true;
                }
            }
            continue;
        }
        if (c == '{' && expectEnumBrace) expectEnumBrace = false;
        if (c == '}' && !enumName.empty() && !expectEnumBrace) enumName.clear();
        if (c == '[' && !enumName.empty() && !expectEnumBrace) {
            // Inside an enum: "[helpstring("text")] Constant".
            size_t p = pos + 1;
            auto skipSpace = [&] {
                while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
            };
            skipSpace();
            if (text.compare(p, 10, "helpstring") != 0) fail("unexpected attribute in enum " + enumName);
            p += 10;
            skipSpace();
            if (p >= text.size() || text[p] != '(') fail("malformed helpstring in enum " + enumName);
            ++p;
            skipSpace();
            if (p >= text.size() || text[p] != '"') fail("malformed helpstring in enum " + enumName);
            std::string doc = readLiteral(text, p);
            skipSpace();
            if (p >= text.size() || text[p] != ')') fail("malformed helpstring in enum " + enumName);
            ++p;
            skipSpace();
            if (p >= text.size() || text[p] != ']') fail("malformed helpstring in enum " + enumName);
            ++p;
            skipSpace();
            size_t s = p;
            while (p < text.size() && isIdent(text[p])) ++p;
            if (p == s) fail("helpstring without a constant in enum " + enumName);
            if (doc.find('\\') != std::string::npos || doc.find('\t') != std::string::npos)
                fail("escapes are not supported in enum doc strings");
            docs += enumName + "\t" + text.substr(s, p - s) + "\t" + doc + "\n";
            pos = s; // the constant itself is copied by the identifier branch
            continue;
        }
        out += c;
        ++pos;
    }
    writeFile(outPath, out);
    writeFile(docsPath, docs);
    return 0;
}

// ---- patch ---------------------------------------------------------------------------

struct Tlb {
    std::string data;

    uint32_t u32(size_t off) const
    {
        if (off + 4 > data.size()) fail("type library truncated");
        uint32_t v;
        std::memcpy(&v, data.data() + off, 4);
        return v;
    }
    void put32(size_t off, uint32_t v)
    {
        if (off + 4 > data.size()) fail("type library truncated");
        std::memcpy(&data[off], &v, 4);
    }
};

constexpr size_t kHeaderSize = 0x54;
constexpr size_t kTypeInfoSize = 0x64;
constexpr int kSegments = 15;
constexpr int kSegTypeInfo = 0, kSegNameTab = 7, kSegStringTab = 8;

struct Layout {
    size_t segDir = 0; // file offset of the segment directory
};

Layout layoutOf(const Tlb& t)
{
    if (t.data.size() < kHeaderSize || t.data.compare(0, 4, "MSFT") != 0) fail("not an MSFT type library");
    size_t off = kHeaderSize;
    if (t.u32(0x14) & 0x100) off += 4;           // help DLL name
    off += 4 * static_cast<size_t>(t.u32(0x20)); // type info offsets
    Layout l;
    l.segDir = off;
    if (off + kSegments * 16 > t.data.size()) fail("type library truncated");
    return l;
}

uint32_t segOffset(const Tlb& t, const Layout& l, int seg) { return t.u32(l.segDir + 16 * seg); }
uint32_t segLength(const Tlb& t, const Layout& l, int seg) { return t.u32(l.segDir + 16 * seg + 4); }

// Inserts bytes at file offset pos and moves every absolute offset at or behind it.
void insertAt(Tlb& t, size_t pos, const std::string& bytes)
{
    const Layout l = layoutOf(t);
    const uint32_t delta = static_cast<uint32_t>(bytes.size());
    const uint32_t tiOff = segOffset(t, l, kSegTypeInfo);
    const uint32_t count = t.u32(0x20);
    for (uint32_t i = 0; i < count; ++i) {
        size_t mem = tiOff + i * kTypeInfoSize + 4;
        uint32_t m = t.u32(mem);
        if (m != 0xFFFFFFFF && m >= pos) t.put32(mem, m + delta);
    }
    for (int s = 0; s < kSegments; ++s) {
        uint32_t o = segOffset(t, l, s);
        if (o != 0xFFFFFFFF && o >= pos) t.put32(l.segDir + 16 * s, o + delta);
    }
    t.data.insert(pos, bytes);
}

std::string nameAt(const Tlb& t, const Layout& l, uint32_t off)
{
    size_t p = segOffset(t, l, kSegNameTab) + off;
    uint32_t len = t.u32(p + 8) & 0xFF;
    if (p + 12 + len > t.data.size()) fail("name table truncated");
    return t.data.substr(p + 12, len);
}

int patch(const std::string& inPath, const std::string& docsPath, const std::string& outPath)
{
    Tlb t{readFile(inPath)};
    // Enum -> constant -> text.
    std::map<std::string, std::map<std::string, std::string>> docs;
    {
        std::istringstream in(readFile(docsPath));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            size_t a = line.find('\t'), b = line.find('\t', a == std::string::npos ? a : a + 1);
            if (a == std::string::npos || b == std::string::npos) fail("malformed line in " + docsPath);
            docs[line.substr(0, a)][line.substr(a + 1, b - a - 1)] = line.substr(b + 1);
        }
    }
    size_t wanted = 0;
    for (auto& e : docs) wanted += e.second.size();

    // 1. The texts go to the end of the string segment: 16-bit length, bytes, padding
    //    with 'W' to a multiple of four.
    std::map<std::string, uint32_t> textOffset; // key: enum + '\n' + constant
    {
        Layout l = layoutOf(t);
        uint32_t strOff = segOffset(t, l, kSegStringTab), strLen = segLength(t, l, kSegStringTab);
        if (strOff == 0xFFFFFFFF) fail("type library without a string segment");
        std::string add;
        for (auto& e : docs)
            for (auto& c : e.second) {
                if (c.second.size() > 0xFFFF) fail("doc string too long");
                textOffset[e.first + "\n" + c.first] = strLen + static_cast<uint32_t>(add.size());
                uint16_t n = static_cast<uint16_t>(c.second.size());
                add.append(reinterpret_cast<const char*>(&n), 2);
                add += c.second;
                while (add.size() % 4) add += 'W';
            }
        insertAt(t, strOff + strLen, add);
        l = layoutOf(t);
        t.put32(l.segDir + 16 * kSegStringTab + 4, strLen + static_cast<uint32_t>(add.size()));
    }

    // 2. Widen the variable records of each enum concerned.
    size_t done = 0;
    const uint32_t count = t.u32(0x20);
    for (uint32_t i = 0; i < count; ++i) {
        Layout l = layoutOf(t);
        size_t base = segOffset(t, l, kSegTypeInfo) + i * kTypeInfoSize;
        if ((t.u32(base) & 0xF) != 0) continue; // TKIND_ENUM only
        std::string name = nameAt(t, l, t.u32(base + 13 * 4));
        auto it = docs.find(name);
        if (it == docs.end()) continue;
        uint32_t mem = t.u32(base + 4);
        uint32_t elems = t.u32(base + 6 * 4);
        uint32_t cFuncs = elems & 0xFFFF, cVars = elems >> 16;
        if (cFuncs != 0) fail("enum " + name + " has functions");
        uint32_t infolen = t.u32(mem);
        size_t recs = mem + 4, tail = recs + infolen;
        size_t tailLen = 3 * 4 * static_cast<size_t>(cVars); // ids, names, offsets
        if (tail + tailLen > t.data.size()) fail("variable data of " + name + " truncated");

        std::string newRecs;
        size_t p = recs;
        std::vector<uint32_t> offsets;
        for (uint32_t v = 0; v < cVars; ++v) {
            uint32_t info = t.u32(p);
            uint32_t len = info & 0xFFFF;
            if (len < 0x14 || p + len > tail) fail("bad variable record in " + name);
            std::string varName = nameAt(t, l, t.u32(tail + 4 * (cVars + v)));
            std::string rec = t.data.substr(p, len);
            auto d = it->second.find(varName);
            if (d != it->second.end()) {
                if (len != 0x14) fail("constant " + varName + " already has optional fields");
                uint32_t help[2] = {0, textOffset.at(name + "\n" + varName)};
                rec.append(reinterpret_cast<const char*>(help), 8);
                uint32_t newInfo = (info & 0xFFFF0000u) | static_cast<uint32_t>(rec.size());
                std::memcpy(&rec[0], &newInfo, 4);
                ++done;
            }
            offsets.push_back(static_cast<uint32_t>(newRecs.size()));
            newRecs += rec;
            p += len;
        }
        std::string block;
        uint32_t newInfolen = static_cast<uint32_t>(newRecs.size());
        block.append(reinterpret_cast<const char*>(&newInfolen), 4);
        block += newRecs;
        block.append(t.data, tail, 2 * 4 * static_cast<size_t>(cVars)); // ids and names unchanged
        for (uint32_t o : offsets) block.append(reinterpret_cast<const char*>(&o), 4);
        size_t oldLen = 4 + infolen + tailLen;
        // Grow in place: insert the extra bytes behind the old block, then overwrite.
        insertAt(t, mem + oldLen, std::string(block.size() - oldLen, '\0'));
        t.data.replace(mem, block.size(), block);
    }
    if (done != wanted) fail("some enum constants named in " + docsPath + " were not found");
    writeFile(outPath, t.data);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "strip") return strip(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::string(argv[1]) == "patch") return patch(argv[2], argv[3], argv[4]);
    std::cerr << "usage: tlbdocs strip IN.idl OUT.idl DOCS.txt | tlbdocs patch IN.tlb DOCS.txt OUT.tlb\n";
    return 2;
}
