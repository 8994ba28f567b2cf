#include "netsim_process.h"

#include "private_tmpdir.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <chrono>
#include <unistd.h>

namespace testsupport {

namespace {

bool reaped(int pid, int waitMs)
{
    for (int waited = 0;; waited += 10) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid || r < 0) return true;
        if (waited >= waitMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

NetsimProcess::NetsimProcess(const std::vector<std::string>& options)
{
    static int serialNo = 0;
    const std::string ready = privateTmpDir() + "/netsim-" + std::to_string(::getpid()) + "-" +
                              std::to_string(++serialNo) + ".port";
    removeFile(ready);
    std::vector<std::string> argv = {NETSIM_PATH, "--port", "0", "--ready-file", ready};
    argv.insert(argv.end(), options.begin(), options.end());
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(&a[0]);
    raw.push_back(nullptr);

    // The child dies with the test process, even when that one is killed or crashes; the
    // simulator's banner goes nowhere.
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("cannot start " + std::string(NETSIM_PATH));
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, 1);
        ::execv(NETSIM_PATH, raw.data());
        ::_exit(127);
    }
    pid_ = pid;

    for (int waited = 0; waited < 10000; waited += 20) {
        if (fileExists(ready)) {
            port_ = std::atoi(readFile(ready).c_str());
            if (port_ > 0) return;
        }
        if (reaped(pid_, 0)) {
            pid_ = -1;
            throw std::runtime_error("the simulator ended before it listened");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    throw std::runtime_error("the simulator did not listen within 10 s");
}

NetsimProcess::~NetsimProcess()
{
    stop();
}

void NetsimProcess::stop()
{
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!reaped(pid_, 5000)) {
        ::kill(pid_, SIGKILL);
        reaped(pid_, 5000);
    }
    pid_ = -1;
}

int unusedLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 9;  // discard port: nothing listens there on a test machine
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
