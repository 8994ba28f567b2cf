#include "netclient/client_log.h"

#include "textconv/utf.h"

#include <atomic>

namespace oltra {

namespace {

std::atomic<ClientLog*> g_log{nullptr};

void put(ClientLog::Level level, const std::string& utf8)
{
    if (ClientLog* log = g_log.load()) {
        if (log->enabled(level)) log->write(level, utf8);
    }
}

void put(ClientLog::Level level, const std::u16string& utf16)
{
    if (ClientLog* log = g_log.load()) {
        if (log->enabled(level)) log->write(level, textconv::toUtf8(utf16));
    }
}

} // namespace

void setClientLog(ClientLog* log) { g_log.store(log); }

namespace netlog {

void debug(const std::string& m) { put(ClientLog::Level::Debug, m); }
void debug(const std::u16string& m) { put(ClientLog::Level::Debug, m); }
void info(const std::string& m) { put(ClientLog::Level::Info, m); }
void info(const std::u16string& m) { put(ClientLog::Level::Info, m); }
void error(const std::string& m) { put(ClientLog::Level::Error, m); }
void error(const std::u16string& m) { put(ClientLog::Level::Error, m); }

void response(const std::string& body)
{
    if (ClientLog* log = g_log.load()) log->response(body);
}

} // namespace netlog

} // namespace oltra
