#include "simulators/netreg/tape.h"

#include <Poco/Exception.h>

namespace netsim {

Tape::Tape(const std::string& target)
{
    if (target == "-") {
        file_ = stdout;
    } else if (!target.empty()) {
        file_ = std::fopen(target.c_str(), "ab");
        if (!file_) throw Poco::OpenFileException(target);
        own_ = true;
    }
}

Tape::~Tape()
{
    if (own_ && file_) std::fclose(file_);
}

void Tape::print(const std::string& text)
{
    write(text);
    std::function<void(const std::string&)> listener;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listener = listener_;
    }
    if (listener) listener(text);
}

void Tape::printDisplay(const std::string& text) { write(text); }

void Tape::setListener(std::function<void(const std::string&)> listener)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listener_ = std::move(listener);
}

void Tape::write(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

} // namespace netsim
