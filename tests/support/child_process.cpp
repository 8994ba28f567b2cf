#include "tests/support/child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

Child::Child(std::vector<std::string> argv, const std::string& outputFile)
{
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(&a[0]);
    raw.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in >= 0) ::dup2(in, 0);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::execvp(raw[0], raw.data());
        ::_exit(127);
    }
}

int Child::wait(int ms)
{
    for (int waited = 0; pid_ > 0; waited += 10) {
        int st = 0;
        const pid_t r = ::waitpid(pid_, &st, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            pid_ = -1;
            status_ = r < 0 ? 255 : WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            break;
        }
        if (waited >= ms) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

int Child::stop()
{
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    if (wait(3000) >= 0) return status_;
    ::kill(pid_, SIGKILL);
    return wait(3000);
}

int run(const std::vector<std::string>& argv)
{
    Child child(argv, "/dev/null");
    return child.started() ? child.wait(20000) : -1;
}

} // namespace testsupport
