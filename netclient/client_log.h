// Where the network client's log lines go. The client keeps no log of its own: the program
// that uses it installs a sink, and the sink decides by its own level what it keeps.
// Without a sink every line is dropped.
#pragma once

#include <string>

namespace oltra {

class ClientLog {
public:
    enum class Level { Debug, Info, Error };

    virtual ~ClientLog() = default;
    // Whether a line of this level would be kept (spares converting the dropped ones).
    virtual bool enabled(Level level) const = 0;
    // One line (UTF-8, without a line end).
    virtual void write(Level level, const std::string& utf8) = 0;
    // A response body as received from the register, after the BOM is removed.
    virtual void response(const std::string& body) = 0;
};

// The process-wide sink; null drops everything. The sink is not owned and must stay alive
// while it is installed.
void setClientLog(ClientLog* log);

// The client's own calls into the installed sink.
namespace netlog {
void debug(const std::string& utf8);
void debug(const std::u16string& utf16);
void info(const std::string& utf8);
void info(const std::u16string& utf16);
void error(const std::string& utf8);
void error(const std::u16string& utf16);
void response(const std::string& body);
} // namespace netlog

} // namespace oltra
