// SPDX-License-Identifier: MIT
#include "rpc_stream.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tq820sim {

pollfd RpcStream::pollRequest(bool wantInput) const {
    const short events = static_cast<short>((wantInput ? POLLIN : 0) | (drained() ? 0 : POLLOUT));
    return {fd_, events, 0};
}

bool RpcStream::receive() {
    char buffer[65536];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (got <= 0) {
        close();
        return false;
    }
    records_.feed(std::string_view(buffer, static_cast<std::size_t>(got)));
    return true;
}

std::optional<std::string> RpcStream::nextRecord() {
    std::optional<std::string> record = records_.next();
    if (record) lastActive_ = Steady::now();
    return record;
}

bool RpcStream::send(std::string_view record, std::size_t fragmentSize) {
    return sendFramed(rpc::frameRecord(record, fragmentSize));
}

bool RpcStream::sendFramed(std::string_view bytes) {
    unsent_ += bytes;
    lastActive_ = Steady::now();
    return flush();
}

bool RpcStream::flush() {
    while (isOpen() && !unsent_.empty()) {
        const ssize_t sent = ::send(fd_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) break;
            close();
            return false;
        }
        unsent_.erase(0, static_cast<std::size_t>(sent));
    }
    if (unsent_.size() > kMaxBacklog) {
        close();
        return false;
    }
    return isOpen();
}

void RpcStream::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    unsent_.clear();
}

std::optional<Steady::time_point> idleDeadline(const RpcStream& stream, int idleTimeoutS) {
    if (idleTimeoutS <= 0 || !stream.isOpen()) return std::nullopt;
    return stream.lastActive() + std::chrono::seconds(idleTimeoutS);
}

}  // namespace tq820sim
