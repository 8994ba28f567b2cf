// The add-in finding network registers on its own: SearchIP, GetParameters and Open with
// an empty IP, driven through the library the way the platform loads it, from inside a
// private network namespace joined to register namespaces by veth pairs:
//
//   client namespace  ac1 10.204.1.1/24  <-veth->  ar1 10.204.1.2/24  register namespace 1
//                     ac2 10.204.2.1/24  <-veth->  ar2 10.204.2.2/24  register namespace 2
//
// The add-in opens its sockets on the calling thread, so every call into it is made on one
// thread that has entered the client namespace.
#include "addin_fixture.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sched.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace addinhost;
using namespace testsupport;

namespace {

// A child process with its output in a file, stopped (SIGTERM, then SIGKILL) and reaped when
// the object goes; it is also killed should the test process die first.
class Process {
public:
    Process(std::vector<std::string> argv, const std::string& output)
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
            const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in >= 0) ::dup2(in, 0);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            ::execvp(raw[0], raw.data());
            ::_exit(127);
        }
    }
    ~Process() { stop(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool started() const { return pid_ > 0 || status_ >= 0; }

    // Waits at most `ms` for the end; the exit status, or -1 while it still runs.
    int wait(int ms)
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

    int stop()
    {
        if (pid_ <= 0) return status_;
        ::kill(pid_, SIGTERM);
        if (wait(3000) >= 0) return status_;
        ::kill(pid_, SIGKILL);
        return wait(3000);
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// Runs a command to its end (at most 20 s); true when it exits with 0.
bool run(const std::vector<std::string>& argv)
{
    Process p(argv, "/dev/null");
    return p.started() && p.wait(20000) == 0;
}

// A network namespace of its own name, removed (with its interfaces) with the object.
class Namespace {
public:
    explicit Namespace(std::string name) : name_(std::move(name)) { ok_ = run({"ip", "netns", "add", name_}); }
    ~Namespace()
    {
        if (ok_) run({"ip", "netns", "del", name_});
    }
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }
    bool ip(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {"ip", "-n", name_});
        return run(args);
    }

private:
    std::string name_;
    bool ok_ = false;
};

// A network register simulator answering SSDP searches, started inside a namespace.
class Register {
public:
    Register(const Namespace& ns, const std::string& address, int port, const std::string& serial)
    {
        static int counter = 0;
        const std::string stem = privateTmpDir() + "/netsim-" + std::to_string(++counter);
        ready_ = stem + ".port";
        output_ = stem + ".out";
        process_ = std::make_unique<Process>(
            std::vector<std::string>{"ip", "netns", "exec", ns.name(), NETSIM_PATH, "--bind", address, "--port",
                                     std::to_string(port), "--ssdp", "--serial", serial, "--ready-file", ready_},
            output_);
    }
    // Waits (at most 10 s) until it listens.
    bool listening()
    {
        for (int waited = 0; waited < 10000; waited += 20) {
            if (!readFile(ready_).empty()) return true;
            if (process_->wait(0) >= 0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    std::string output() const { return readFile(output_); }
    int stop() { return process_->stop(); }

private:
    std::string ready_, output_;
    std::unique_ptr<Process> process_;
};

// Runs `work` on a thread of its own that has entered the namespace; rethrows its exception.
template <typename Work>
void inNamespace(const Namespace& ns, Work work)
{
    std::async(std::launch::async, [&] {
        const int fd = ::open(("/run/netns/" + ns.name()).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) throw std::runtime_error("cannot open namespace " + ns.name());
        const int rc = ::setns(fd, CLONE_NEWNET);
        ::close(fd);
        if (rc != 0) throw std::runtime_error("cannot enter namespace " + ns.name());
        work();
    }).get();
}

const std::u16string kIpParameter = u"<Parameter Name=\"IP\" Caption=\"IP адрес\" TypeValue=\"String\" DefaultValue=\"";

class AddinDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root; the add-in's discovery is not tested";
        const std::string stem = "adn" + std::to_string(::getpid());
        client_ = std::make_unique<Namespace>(stem + "c");
        if (!client_->ok()) GTEST_SKIP() << "cannot create network namespaces (ip netns add failed)";
        for (int n = 1; n <= 2; ++n) {
            registers_.push_back(std::make_unique<Namespace>(stem + "r" + std::to_string(n)));
            const Namespace& r = *registers_.back();
            ASSERT_TRUE(r.ok());
            const std::string c = "ac" + std::to_string(n), v = "ar" + std::to_string(n);
            const std::string net = "10.204." + std::to_string(n) + ".";
            ASSERT_TRUE(run({"ip", "link", "add", c, "netns", client_->name(), "type", "veth", "peer", "name", v,
                             "netns", r.name()}));
            ASSERT_TRUE(client_->ip({"addr", "add", net + "1/24", "dev", c}));
            ASSERT_TRUE(client_->ip({"link", "set", c, "up"}));
            ASSERT_TRUE(r.ip({"addr", "add", net + "2/24", "dev", v}));
            ASSERT_TRUE(r.ip({"link", "set", v, "up"}));
        }
    }
    void TearDown() override
    {
        sims_.clear();  // the simulators go before their namespaces
        registers_.clear();
        client_.reset();
    }

    std::unique_ptr<Namespace> client_;
    std::vector<std::unique_ptr<Namespace>> registers_;
    std::vector<std::unique_ptr<Register>> sims_;
};

TEST_F(AddinDiscovery, SearchParametersAndOpenFindTheRegistersAndNothingWhenTheyAreGone)
{
    // Two registers on the first network (the same address, HTTP on two ports), one on the
    // second; the one on port 80 of the first network is the one an empty IP connects to.
    sims_.push_back(std::make_unique<Register>(*registers_[0], "10.204.1.2", 80, "ON2040180"));
    sims_.push_back(std::make_unique<Register>(*registers_[0], "10.204.1.2", 8080, "ON2040181"));
    sims_.push_back(std::make_unique<Register>(*registers_[1], "10.204.2.2", 80, "ON2040280"));
    for (auto& sim : sims_) ASSERT_TRUE(sim->listening()) << "simulator did not start: " << sim->output();

    inNamespace(*client_, [this] {
        AddinHost host(ADDIN_LIBRARY);
        {
            Component comp = host.create();
            ASSERT_TRUE(comp.set("LogLevel", Value::i4(1)));  // INFO: no response files

            CallResult r = comp.call("SearchIP", {Value::str(u"")});
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.result, Value::boolean(false)) << "the list is the only answer";
            EXPECT_EQ(r.args[0], Value::str(u"10.204.1.2;10.204.2.2")) << "each address once, sorted";
            EXPECT_TRUE(r.errors.empty());

            r = comp.call("GetParameters", {Value::str(u"")});
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.result, Value::boolean(false));
            EXPECT_NE(r.args[0].text.find(kIpParameter + u"10.204.1.2\" />"), std::u16string::npos)
                << r.args[0].describe();
            EXPECT_EQ(r.args[0].text.find(u"DEFAULT_IP"), std::u16string::npos);

            r = comp.call("Open", {Value::str(u"")});
            EXPECT_TRUE(r.ok);
            EXPECT_EQ(r.result, Value::boolean(true));
            EXPECT_EQ(r.args[0], Value::str(u"ON2040180")) << "the register on port 80 of the first address";
            EXPECT_TRUE(r.errors.empty());
            EXPECT_EQ(comp.get("IP").value, Value::str(u"10.204.1.2")) << "the address in use is shown";
            EXPECT_NE(logText().find("INFO: Connection to fiscal printer IP: 10.204.1.2, login: service, "
                                     "with default password\n"),
                      std::string::npos);
            EXPECT_TRUE(comp.call("Close", {Value::str(u"ON2040180")}).ok);
        }

        for (auto& sim : sims_) EXPECT_EQ(sim->stop(), 0) << sim->output();

        {
            // The interfaces are still up, so this is a real search that nobody answers.
            Component comp = host.create();
            ASSERT_TRUE(comp.set("LogLevel", Value::i4(1)));
            const CallResult r = comp.call("Open", {Value::str(u"")});
            EXPECT_FALSE(r.ok) << "a failed connection fails the host's call";
            EXPECT_EQ(r.result, Value::boolean(false));
            ASSERT_EQ(r.errors.size(), 1u);
            EXPECT_EQ(r.errors[0].wcode, 1004);
            EXPECT_EQ(r.errors[0].scode, 1004);
            EXPECT_EQ(comp.get("IP").value, Value::str(u"Необходимо вызвать метод Open")) << "no address, no client";
            EXPECT_EQ(countOf(logText(), " code:1004\n"), 1);
            comp.set("LogLevel", Value::i4(0));  // the process-wide level back at DEBUG
        }
        EXPECT_EQ(host.memory().outstanding(), 0u) << "strings handed to the host were not all freed";
        EXPECT_EQ(host.memory().badFrees(), 0u);
        EXPECT_EQ(host.memory().foreignStrings(), 0u);
    });
}

} // namespace
