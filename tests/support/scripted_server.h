// Helpers shared by the network client and simulator tests: child processes, the tail of
// the driver log, a scripted HTTP server and temporary files.
#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/ThreadPool.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// A unique path under /tmp for this process; removed by the caller.
inline std::string tempPath(const std::string& stem)
{
    static int counter = 0;
    return "/tmp/" + stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// A child process whose output goes to a file; killed (SIGTERM, then SIGKILL) and reaped
// when the object goes.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& outputFile)
    {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Waits up to `ms` for the exit; the exit status (or -1 when still running).
    int wait(int ms)
    {
        if (pid_ <= 0) return status_;
        for (int waited = 0;; waited += 10) {
            int st = 0;
            const pid_t r = ::waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                return status_;
            }
            if (r < 0 || waited >= ms) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // SIGTERM, then SIGKILL after 3 s; the exit status.
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

// Runs a command to its end; its exit status (output discarded).
inline int run(const std::vector<std::string>& argv)
{
    Child child(argv, "/dev/null");
    if (child.pid() <= 0) return -1;
    const int rc = child.wait(20000);
    return rc;
}

// Waits up to `ms` for a file with content; the content, or "" on time-out.
inline std::string waitForFile(const std::string& path, int ms)
{
    for (int waited = 0; waited <= ms; waited += 20) {
        const std::string text = readFile(path);
        if (!text.empty()) return text;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::string();
}

// What the driver log received since construction.
class LogTail {
public:
    explicit LogTail(const std::string& path) : path_(path)
    {
        struct stat st {};
        offset_ = ::stat(path.c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
    }
    std::string text() const
    {
        const std::string all = readFile(path_);
        return all.size() >= offset_ ? all.substr(offset_) : all;   // restarted log: all of it
    }
    bool contains(const std::string& piece) const { return text().find(piece) != std::string::npos; }

private:
    std::string path_;
    std::size_t offset_ = 0;
};

// An HTTP server on a free loopback port that answers fixed replies, by full request
// target first, then by path; 404 otherwise. Records every request target.
class ScriptedServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::map<std::string, std::string> headers;
    };

    ScriptedServer()
    {
        Poco::Net::ServerSocket socket;
        socket.bind(Poco::Net::SocketAddress("127.0.0.1", 0), true);
        socket.listen(16);
        port_ = socket.address().port();
        server_ = std::make_unique<Poco::Net::HTTPServer>(new Factory(*this), pool_, socket,
                                                          new Poco::Net::HTTPServerParams);
        server_->start();
    }
    ~ScriptedServer()
    {
        server_->stopAll(true);
        server_.reset();
        pool_.joinAll();
    }

    void set(const std::string& target, int status, const std::string& body,
             std::map<std::string, std::string> headers = {})
    {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_[target] = Reply{status, body, std::move(headers)};
    }
    void set(const std::string& target, const std::string& body) { set(target, 200, body); }
    std::vector<std::string> targets() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return targets_;
    }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    Reply reply(const std::string& target)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets_.push_back(target);
        auto it = replies_.find(target);
        if (it == replies_.end()) it = replies_.find(target.substr(0, target.find('?')));
        return it == replies_.end() ? Reply{404, "not found", {}} : it->second;
    }

    class Handler : public Poco::Net::HTTPRequestHandler {
    public:
        explicit Handler(ScriptedServer& s) : s_(s) {}
        void handleRequest(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response) override
        {
            std::string ignored;
            std::getline(request.stream(), ignored, '\0');
            const Reply r = s_.reply(request.getURI());
            response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(r.status));
            response.setContentLength(static_cast<std::streamsize>(r.body.size()));
            for (const auto& h : r.headers) response.set(h.first, h.second);   // may override the length
            if (r.headers.count("Connection")) response.setKeepAlive(false);
            response.send() << r.body;
        }

    private:
        ScriptedServer& s_;
    };
    class Factory : public Poco::Net::HTTPRequestHandlerFactory {
    public:
        explicit Factory(ScriptedServer& s) : s_(s) {}
        Poco::Net::HTTPRequestHandler* createRequestHandler(const Poco::Net::HTTPServerRequest&) override
        {
            return new Handler(s_);
        }

    private:
        ScriptedServer& s_;
    };

    mutable std::mutex mutex_;
    std::map<std::string, Reply> replies_;
    std::vector<std::string> targets_;
    uint16_t port_ = 0;
    Poco::ThreadPool pool_{1, 4};
    std::unique_ptr<Poco::Net::HTTPServer> server_;
};

} // namespace testsupport
