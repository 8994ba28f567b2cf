// The network register simulator (NETSIM_PATH) as a child process. It is stopped (SIGTERM,
// then SIGKILL if it lingers) and reaped when the object goes, and dies with the test
// process, so no simulator outlives a test.
#pragma once

#include "tests/support/child_process.h"

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class NetsimProcess {
public:
    // Starts the simulator with "--port 0 --ready-file F" and then `options` (a later option
    // wins, so "--port" may be given), inside the named network namespace when `netns` is
    // not empty; waits (at most 10 s) until it listens. Throws std::runtime_error, with
    // the simulator's output, when it does not come up.
    explicit NetsimProcess(const std::vector<std::string>& options = {}, const std::string& netns = "");
    ~NetsimProcess();
    NetsimProcess(const NetsimProcess&) = delete;
    NetsimProcess& operator=(const NetsimProcess&) = delete;

    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    // What the simulator printed (stdout and stderr).
    std::string output() const;
    // Stops it; its exit status (0 after a clean SIGTERM).
    int stop();

private:
    std::string ready_, output_;
    std::unique_ptr<Child> child_;
    int port_ = 0;
};

// A loopback port on which nothing listens (bound once, then released).
int unusedLoopbackPort();

} // namespace testsupport
