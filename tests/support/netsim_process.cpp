#include "tests/support/netsim_process.h"

#include "tests/support/private_tmpdir.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

NetsimProcess::NetsimProcess(const std::vector<std::string>& options, const std::string& netns)
{
    static int serialNo = 0;
    const std::string stem = privateTmpDir() + "/netsim-" + std::to_string(::getpid()) + "-" +
                             std::to_string(++serialNo);
    ready_ = stem + ".port";
    output_ = stem + ".out";
    removeFile(ready_);
    std::vector<std::string> argv;
    if (!netns.empty()) argv = {"ip", "netns", "exec", netns};
    argv.insert(argv.end(), {NETSIM_PATH, "--port", "0", "--ready-file", ready_});
    argv.insert(argv.end(), options.begin(), options.end());
    child_ = std::make_unique<Child>(argv, output_);
    if (!child_->started()) throw std::runtime_error("cannot start " + std::string(NETSIM_PATH));

    for (int waited = 0; waited < 10000; waited += 20) {
        port_ = std::atoi(readFile(ready_).c_str());
        if (port_ > 0) return;
        if (child_->wait(0) >= 0) throw std::runtime_error("the simulator ended before it listened: " + output());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    throw std::runtime_error("the simulator did not listen within 10 s: " + output());
}

NetsimProcess::~NetsimProcess() { stop(); }

std::string NetsimProcess::output() const { return readFile(output_); }

int NetsimProcess::stop() { return child_->stop(); }

int unusedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 9; // discard port: nothing listens there on a test machine
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    int port = 9;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

} // namespace testsupport
