// Child processes for the tests.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A program (found on PATH) running as a child with its output (stdout and stderr) in a
// file and no input. It is stopped (SIGTERM, then SIGKILL) and reaped when the object goes,
// and killed should the test process die first.
class Child {
public:
    Child(std::vector<std::string> argv, const std::string& outputFile);
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0 || status_ >= 0; }

    // Waits at most `ms` for the end; the exit status (128 + signal when killed), or -1
    // while it still runs.
    int wait(int ms);
    // SIGTERM, then SIGKILL after 3 s; the exit status.
    int stop();

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs a command to its end (at most 20 s), output discarded; its exit status, or -1.
int run(const std::vector<std::string>& argv);

} // namespace testsupport
