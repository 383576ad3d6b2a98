// SPDX-License-Identifier: MIT
#include "tcp_front.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

namespace tq820sim {

std::pair<int, std::string> listenTcp(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
        status != 0) {
        throw std::runtime_error("cannot resolve " + host + ": " + gai_strerror(status));
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(found, freeaddrinfo);
    const int listener = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) failWithErrno("socket");
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(listener, found->ai_addr, found->ai_addrlen) != 0 || ::listen(listener, 8) != 0) {
        const int error = errno;
        ::close(listener);
        errno = error;
        failWithErrno("cannot listen on " + host + ":" + service);
    }
    setNonBlocking(listener);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
    char name[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &bound.sin_addr, name, sizeof name);
    return {listener, std::string(name) + ":" + std::to_string(ntohs(bound.sin_port))};
}

std::string peerName(int fd) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length);
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
}

TcpFront::~TcpFront() {
    client_.close();
    if (listener_ >= 0) ::close(listener_);
}

std::string TcpFront::listen() {
    auto [listener, name] = listenTcp(core_.options.host, core_.options.port);
    listener_ = listener;
    return name;
}

// While a client is connected the listener is not polled: the next client
// waits in the backlog.
void TcpFront::collect(std::vector<pollfd>& fds) {
    if (client_.isOpen())
        fds.push_back(client_.pollRequest());
    else if (listener_ >= 0)
        fds.push_back({listener_, POLLIN, 0});
}

void TcpFront::service(std::span<const pollfd> fds) {
    if (fds.empty()) return;
    if (fds[0].fd == listener_) {
        if ((fds[0].revents & POLLIN) != 0) accept();
        return;
    }
    client_.service(fds[0].revents);
}

void TcpFront::accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    client_.open(fd, true, peerName(fd));
}

}  // namespace tq820sim
