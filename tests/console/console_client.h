// HTTP/1.1 clients of the console on loopback, for tests: `request()` sends one request
// on a connection of its own; `Client` keeps a connection and sends raw bytes. POSIX
// sockets or Winsock.
#pragma once

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <string>

namespace consoletest {

#ifdef _WIN32
using Socket = SOCKET;
inline void closeSocket(Socket s) { ::closesocket(s); }
inline int pollOne(Socket s, short events, int ms)
{
    WSAPOLLFD p{s, events, 0};
    return ::WSAPoll(&p, 1, ms);
}
constexpr int kSendFlags = 0;
// Winsock is started once for the test program.
inline bool startSockets()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using Socket = int;
inline void closeSocket(Socket s) { ::close(s); }
inline int pollOne(Socket s, short events, int ms)
{
    pollfd p{s, events, 0};
    return ::poll(&p, 1, ms);
}
constexpr int kSendFlags = MSG_NOSIGNAL;
inline bool startSockets() { return true; }
#endif

// A connection to 127.0.0.1:PORT.
class Client {
public:
    // `receiveBuffer`: the socket's receive buffer in bytes (0: the system's choice).
    explicit Client(std::uint16_t port, int receiveBuffer = 0)
    {
        startSockets();
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                         sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() { closeSocket(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;
    bool connected() const { return connected_; }
    // False when the server has closed the connection (or it broke).
    bool send(const std::string& bytes)
    {
        std::size_t at = 0;
        while (at < bytes.size()) {
            const auto n = ::send(fd_, bytes.data() + at, static_cast<int>(bytes.size() - at), kSendFlags);
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Reads until `until` appears (or, when empty, until the server closes), up to `ms`.
    std::string read(const std::string& until = "", int ms = 3000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end && !closed_) {
            if (!until.empty() && got_.find(until) != std::string::npos) break;
            readOnce(50);
        }
        return got_;
    }
    // One whole response (head and Content-Length body), taken out of what was read;
    // nothing is read past it but what came with its last piece.
    std::string response(int ms = 3000)
    {
        read("\r\n\r\n", ms);
        const std::size_t head = got_.find("\r\n\r\n");
        if (head == std::string::npos) return std::string();
        const std::size_t cl = got_.find("Content-Length: ");
        const std::size_t length = cl < head ? std::stoul(got_.substr(cl + 16)) : 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (got_.size() < head + 4 + length && !closed_ && std::chrono::steady_clock::now() < end) readOnce(50);
        if (got_.size() < head + 4 + length) return std::string();
        const std::string r = got_.substr(0, head + 4 + length);
        got_.erase(0, r.size());
        return r;
    }
    bool closedByServer(int ms = 3000)
    {
        read("", ms);
        return closed_;
    }

private:
    // What one receive gives within `ms`.
    void readOnce(int ms)
    {
        if (pollOne(fd_, POLLIN, ms) <= 0) return;
        char buf[65536];
        const auto n = ::recv(fd_, buf, sizeof buf, 0);
        if (n <= 0) closed_ = true;
        else got_.append(buf, static_cast<std::size_t>(n));
    }

    Socket fd_;
    bool connected_ = false;
    bool closed_ = false;
    std::string got_;
};

struct Answer {
    int status = 0; // 0: no answer
    std::string body;
};

// One request on a connection of its own, read to its end (at most 5 s).
inline Answer request(std::uint16_t port, const std::string& method, const std::string& target,
                      const std::string& body = "")
{
    Answer a;
    Client c(port);
    if (!c.connected()) return a;
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                       "\r\nConnection: close\r\n";
    if (method == "POST")
        text += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    text += "\r\n" + body;
    c.send(text);
    const std::string got = c.read("", 5000);
    const std::size_t head = got.find("\r\n\r\n");
    if (got.size() < 12 || head == std::string::npos) return a;
    a.status = std::stoi(got.substr(9, 3));
    a.body = got.substr(head + 4);
    return a;
}

// The port of "http://127.0.0.1:PORT/".
inline std::uint16_t portOf(const std::string& url)
{
    const std::size_t colon = url.rfind(':');
    return colon == std::string::npos ? 0 : static_cast<std::uint16_t>(std::stoi(url.substr(colon + 1)));
}

} // namespace consoletest
