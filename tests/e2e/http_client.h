// Test helper: plain HTTP/1.1 requests to a status page on 127.0.0.1 over a socket of the
// test's own, as well formed or as malformed as a test needs them.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace qv {

// A connection to the page on 127.0.0.1; -1 when it cannot be made.
inline int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval limit{3, 0};  // no answer within it counts as none
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

// Sends `request` and reads the answer until the server closes; with `closeEarly`, hangs up
// right after sending. What the server said ("" for nothing).
inline std::string Exchange(int port, const std::string& request, bool closeEarly = false) {
    const int fd = Connect(port);
    if (fd < 0) return "";
    for (size_t sent = 0; sent < request.size();) {
        const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    std::string answer;
    char bytes[65536];
    for (ssize_t n; !closeEarly && (n = recv(fd, bytes, sizeof bytes, 0)) > 0;) {
        answer.append(bytes, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

inline int StatusOf(const std::string& answer) {
    return answer.rfind("HTTP/1.", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

inline std::string BodyOf(const std::string& answer) {
    const size_t end = answer.find("\r\n\r\n");
    return end == std::string::npos ? "" : answer.substr(end + 4);
}

inline std::string Get(int port, const std::string& path, const std::string& method = "GET") {
    return Exchange(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              "Connection: close\r\n\r\n");
}

}  // namespace qv
