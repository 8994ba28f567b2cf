#include "tests/support/captured_client_log.h"

namespace testsupport {

CapturedClientLog::CapturedClientLog() { oltra::setClientLog(this); }

CapturedClientLog::~CapturedClientLog() { oltra::setClientLog(nullptr); }

std::string CapturedClientLog::text() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

std::vector<std::string> CapturedClientLog::responses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return responses_;
}

void CapturedClientLog::write(Level level, const std::string& utf8)
{
    const char* name = level == Level::Debug ? "DEBUG" : level == Level::Info ? "INFO" : "ERROR";
    std::lock_guard<std::mutex> lock(mutex_);
    text_ += std::string(name) + ": " + utf8 + "\n";
}

void CapturedClientLog::response(const std::string& body)
{
    std::lock_guard<std::mutex> lock(mutex_);
    responses_.push_back(body);
}

} // namespace testsupport
