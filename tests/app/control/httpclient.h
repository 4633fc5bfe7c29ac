#pragma once
// A plain HTTP/1.1 client over a blocking socket, for the tests of the control server:
// one request per connection ("Connection: close"), the answer read to its end.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace httptest {

struct TAnswer {
    int Status = 0;      // 0: no answer (refused, reset)
    std::string Body;
};

// address: an IPv4 address such as "127.0.0.1".
inline TAnswer Request(const std::string& address, uint16_t port, const std::string& method, const std::string& path,
                       const std::string& body = {}, const std::string& headers = {})
{
    TAnswer answer;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return answer;
    // The server answers at once; a hung one fails the test instead of hanging it.
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return answer;
    }
    const std::string request = method + " " + path + " HTTP/1.1\r\nHost: " + address + "\r\nConnection: close\r\n" +
                                headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    std::string text;
    char buf[65536];
    while (true) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        // The server may keep the connection open: stop once the announced body is in.
        const std::size_t head = text.find("\r\n\r\n");
        if (head == std::string::npos) continue;
        std::string lower = text.substr(0, head);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t cl = lower.find("content-length:");
        if (cl != std::string::npos && text.size() >= head + 4 + std::stoul(lower.substr(cl + 15))) break;
    }
    ::close(fd);
    if (text.rfind("HTTP/1.1 ", 0) != 0) return answer;
    answer.Status = std::stoi(text.substr(9, 3));
    const std::size_t head = text.find("\r\n\r\n");
    if (head != std::string::npos) answer.Body = text.substr(head + 4);
    return answer;
}

}  // namespace httptest
