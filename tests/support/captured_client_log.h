// The network client's log, kept in memory for a test: installed while the object lives,
// every level kept, one "LEVEL: message\n" line each (DEBUG, INFO, ERROR).
#pragma once

#include "netclient/client_log.h"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class CapturedClientLog final : public oltra::ClientLog {
public:
    CapturedClientLog();
    ~CapturedClientLog() override;
    CapturedClientLog(const CapturedClientLog&) = delete;
    CapturedClientLog& operator=(const CapturedClientLog&) = delete;

    std::string text() const;
    bool contains(const std::string& piece) const { return text().find(piece) != std::string::npos; }
    // The response bodies handed to the log, in order.
    std::vector<std::string> responses() const;

    bool enabled(Level) const override { return true; }
    void write(Level level, const std::string& utf8) override;
    void response(const std::string& body) override;

private:
    mutable std::mutex mutex_;
    std::string text_;
    std::vector<std::string> responses_;
};

} // namespace testsupport
