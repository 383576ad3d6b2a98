// SPDX-License-Identifier: MIT
// One byte-stream client of the instrument (a TCP connection or the
// pseudo-terminal's master side): reads lines into its session, queues the
// replies (late, when --reply-delay asks) and writes them as the peer takes
// them.
#pragma once

#include "delayed_replies.h"
#include "front_end.h"

#include <memory>
#include <string>

namespace tq820sim {

class StreamLink {
public:
    static constexpr std::size_t kMaxBacklog = 1 << 20;

    explicit StreamLink(SharedCore& core) : core_(core) {}
    ~StreamLink() { close(); }
    StreamLink(const StreamLink&) = delete;
    StreamLink& operator=(const StreamLink&) = delete;

    // Takes over fd (non-blocking) for a new conversation.
    void open(int fd, bool socket, std::string peer);
    void close();
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

    [[nodiscard]] pollfd pollRequest() const;
    // Releases the replies that fell due, then handles the poll() result.
    void service(short revents);
    [[nodiscard]] std::optional<Steady::time_point> deadline() const;

private:
    void receive();
    void releaseDelayed();
    void flush();
    [[nodiscard]] bool idle() const { return delayed_.empty() && unsent_.empty(); }
    // Replies queued or held back, by what they cost.
    [[nodiscard]] std::size_t backlog() const { return unsent_.size() + delayed_.cost(); }

    SharedCore& core_;
    int fd_ = -1;
    bool socket_ = false;
    std::string peer_;
    std::unique_ptr<Session> session_;
    DelayedReplies delayed_;
    std::string unsent_;
    bool closeWhenSent_ = false;
};

// Writes a session's events to the transcript.
void recordEvents(Transcript& transcript, const std::vector<Event>& events);

}  // namespace tq820sim
