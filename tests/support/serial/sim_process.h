// Runs peltra-serialsim as a child process for one test and stops it afterwards.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class SimProcess {
public:
    // Starts the simulator with `args` and waits for its "PTY <path>" line.
    explicit SimProcess(const std::vector<std::string>& args)
    {
        int out[2];
        if (::pipe(out) != 0) return;
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM); // never outlive the test
            if (::getppid() != parent) ::_exit(1);
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv{const_cast<char*>(SERIALSIM_PATH)};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(SERIALSIM_PATH, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        std::FILE* f = ::fdopen(out[0], "r");
        char line[512] = {};
        if (f && std::fgets(line, sizeof line, f)) {
            std::string s(line);
            if (s.rfind("PTY ", 0) == 0) path_ = s.substr(4, s.find_last_not_of("\r\n") - 3);
        }
        // With --console, the next line gives the console's address.
        for (const auto& a : args)
            if (a == "--console" && f && std::fgets(line, sizeof line, f)) {
                std::string s(line);
                if (s.rfind("console on ", 0) == 0) console_ = s.substr(11, s.find_last_not_of("\r\n") - 10);
            }
        if (f) std::fclose(f);
    }
    ~SimProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& Path() const { return path_; }
    // "http://ADDR:PORT/" of the console, when started with --console.
    const std::string& ConsoleUrl() const { return console_; }

private:
    pid_t pid_ = -1;
    std::string path_;
    std::string console_;
};
