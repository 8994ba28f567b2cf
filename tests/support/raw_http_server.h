// A loopback HTTP server whose answers a test writes byte for byte and paces: a head, then
// a body in pieces with pauses between them, or a byte at a time. For registers that stall
// mid-body, drip their answers, or answer a login in a particular way. Keeps every request
// head it receives.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class RawHttpServer {
public:
    struct Piece {
        std::string bytes;
        int dripMs = 0;     // > 0: one byte, then this pause, for each byte
        int pauseMs = 0;    // pause after the piece
        bool close = false; // then drop the connection without a further byte
    };
    // The answer to request number `index` (from 0, over all connections) with this head.
    using Script = std::function<std::vector<Piece>(int index, const std::string& head)>;
    // The same with the request's body.
    using BodyScript = std::function<std::vector<Piece>(int index, const std::string& head, const std::string& body)>;

    // A whole answer as one piece: status line, Content-Length, the extra header lines
    // (each ending in "\r\n"), the body.
    static std::string answer(int status, const std::string& reason, const std::string& body,
                              const std::string& headers = "")
    {
        return "HTTP/1.1 " + std::to_string(status) + " " + reason +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
    }

    explicit RawHttpServer(Script script)
        : RawHttpServer(BodyScript(
              [script](int index, const std::string& head, const std::string&) { return script(index, head); }))
    {}

    explicit RawHttpServer(BodyScript script) : script_(std::move(script))
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("raw HTTP server: cannot listen");
        port_ = ntohs(a.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }

    ~RawHttpServer()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        acceptor_.join();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread& t : handlers_) t.join();
        ::close(listener_);
    }

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> heads() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return heads_;
    }

private:
    bool stopping()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopping_;
    }
    // Sleeps, unless the server stops; false when it stops.
    bool pause(int ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
    }

    void acceptLoop()
    {
        while (!stopping()) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) continue;
            std::lock_guard<std::mutex> lock(mutex_);
            connections_.push_back(fd);
            handlers_.emplace_back([this, fd] {
                serve(fd);
                ::close(fd);
            });
        }
    }

    // Reads one request (head and Content-Length body); false when the client is gone.
    bool readRequest(int fd, std::string& pending, std::string& head, std::string& body)
    {
        std::size_t end;
        while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
            if (!receive(fd, pending)) return false;
        }
        head = pending.substr(0, end + 4);
        pending.erase(0, end + 4);
        std::size_t length = 0;
        const std::size_t at = head.find("Content-Length: ");
        if (at != std::string::npos) length = std::strtoul(head.c_str() + at + 16, nullptr, 10);
        while (pending.size() < length) {
            if (!receive(fd, pending)) return false;
        }
        body = pending.substr(0, length);
        pending.erase(0, length);
        return true;
    }

    bool receive(int fd, std::string& into)
    {
        for (;;) {
            if (stopping()) return false;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return false;
            into.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
    }

    bool send(int fd, const char* data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n <= 0) return false;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    void serve(int fd)
    {
        std::string pending, head, body;
        while (readRequest(fd, pending, head, body)) {
            int index;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                index = static_cast<int>(heads_.size());
                heads_.push_back(head);
            }
            for (const Piece& piece : script_(index, head, body)) {
                if (piece.dripMs > 0) {
                    for (char c : piece.bytes)
                        if (!send(fd, &c, 1) || !pause(piece.dripMs)) return;
                } else if (!send(fd, piece.bytes.data(), piece.bytes.size())) {
                    return;
                }
                if (piece.pauseMs > 0 && !pause(piece.pauseMs)) return;
                if (piece.close) {
                    ::shutdown(fd, SHUT_RDWR);
                    return;
                }
            }
        }
    }

    BodyScript script_;
    int listener_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<std::string> heads_;
    std::vector<int> connections_;
    std::thread acceptor_;
    std::vector<std::thread> handlers_;
};

} // namespace testsupport
