// A blocking HTTP/1.1 client for the console's JSON API on loopback, for tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace consoletest {

struct Answer {
    int status = 0;      // 0: no answer
    std::string body;
};

// One request on a connection of its own, read to its end (at most 5 s).
inline Answer request(std::uint16_t port, const std::string& method, const std::string& target,
                      const std::string& body = "")
{
    Answer a;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return a;
    }
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (method == "POST")
        text += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    text += "\r\n" + body;
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    std::string got;
    char buf[4096];
    for (int rounds = 0; rounds < 100; ++rounds) {
        pollfd p {fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
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
