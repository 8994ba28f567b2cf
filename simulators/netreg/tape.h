// Where the tape and the display go: a file, standard output, or nowhere.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace netsim {

class Tape {
public:
    explicit Tape(const std::string& target); // "-": standard output; empty: nowhere; else a file appended to
    ~Tape();
    Tape(const Tape&) = delete;
    Tape& operator=(const Tape&) = delete;
    void print(const std::string& text);        // one or more lines
    void printDisplay(const std::string& text); // the display's frame: to the file only
    // Gets every text given to print() (not the display), from the printing thread.
    void setListener(std::function<void(const std::string&)> listener);
private:
    void write(const std::string& text);
    std::mutex mutex_;
    std::function<void(const std::string&)> listener_;
    std::FILE* file_ = nullptr;
    bool own_ = false;
};

} // namespace netsim
