// The network register simulator as a child process on a free loopback port. The
// process is stopped (SIGTERM, then SIGKILL if it lingers) and reaped when the object
// goes away, so no simulator outlives a test.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class NetsimProcess {
public:
    // Starts NETSIM_PATH with "--port 0 --ready-file F" and the given options; waits (at
    // most 10 s) until it listens. Throws std::runtime_error when it does not come up.
    explicit NetsimProcess(const std::vector<std::string>& options = {});
    ~NetsimProcess();
    NetsimProcess(const NetsimProcess&) = delete;
    NetsimProcess& operator=(const NetsimProcess&) = delete;

    int port() const { return port_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    void stop();

private:
    int pid_ = -1;
    int port_ = 0;
};

// A loopback port on which nothing listens (bound once, then released).
int unusedLoopbackPort();

} // namespace testsupport
