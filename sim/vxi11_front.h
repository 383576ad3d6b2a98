// SPDX-License-Identifier: MIT
// The VXI-11 core channel (ONC RPC over TCP) in front of the instrument:
// device "inst0", or "gpib0,<address>" as a LAN/GPIB gateway. Several
// clients at a time, each with its own links; a device_read that finds no
// reply waits, without holding up anyone else, until one comes or its
// io_timeout passes.
#pragma once

#include "delayed_replies.h"
#include "front_end.h"
#include "rpc_stream.h"

#include <deque>
#include <map>
#include <memory>

namespace tq820sim {

class Vxi11Front final : public FrontEnd {
public:
    static constexpr std::size_t kMaxConnections = 16;
    static constexpr std::size_t kMaxLinks = 16;

    explicit Vxi11Front(SharedCore& core) : core_(core) {}
    ~Vxi11Front() override;
    Vxi11Front(const Vxi11Front&) = delete;
    Vxi11Front& operator=(const Vxi11Front&) = delete;

    // Listens on options.vxi11Host and options.vxi11Port; returns
    // "HOST:PORT" as bound.
    std::string listen();
    [[nodiscard]] int port() const { return port_; }

    void collect(std::vector<pollfd>& fds) override;
    void service(std::span<const pollfd> fds) override;
    [[nodiscard]] std::optional<Steady::time_point> deadline() const override;
    [[nodiscard]] bool active() const override { return listener_ >= 0; }

private:
    struct PendingRead {
        std::uint32_t xid = 0;
        rpc::ReadArgs args;
        Steady::time_point deadline;
    };
    struct Connection {
        std::unique_ptr<RpcStream> stream;
        std::optional<PendingRead> pending;
        bool closeWhenSent = false;
    };
    struct Link {
        Connection* owner = nullptr;
        std::string device;
        std::unique_ptr<Session> session;
        std::deque<std::string> replies;  // whole reply messages, oldest first
        std::size_t taken = 0;            // bytes of the oldest already read
        std::size_t bytes = 0;            // bytes waiting in all of them
        DelayedReplies delayed;
    };

    static bool busy(const Connection& connection) {
        return connection.pending.has_value() || connection.closeWhenSent;
    }
    void accept();
    [[nodiscard]] std::optional<Steady::time_point> idleDeadline(const Connection& connection) const;
    void closeIdle();
    void closeLongestIdle();
    [[nodiscard]] std::size_t openConnections() const;
    void pump(Connection& connection);
    void handle(Connection& connection, const rpc::Request& request);
    void reply(Connection& connection, std::uint32_t xid, std::string_view results);
    void createLink(Connection& connection, const rpc::Request& request);
    void write(Connection& connection, const rpc::Request& request);
    void read(Connection& connection, const rpc::Request& request);
    void generic(Connection& connection, const rpc::Request& request);
    void lock(Connection& connection, const rpc::Request& request);
    void unlock(Connection& connection, const rpc::Request& request);
    void destroyLink(Connection& connection, const rpc::Request& request);
    bool answerPendingRead(Connection& connection);
    std::string takeReply(Link& link, const rpc::ReadArgs& args);
    void releaseDelayed(Link& link);
    static std::size_t backlog(const Link& link);
    [[nodiscard]] bool accessible(const std::string& device) const;
    Link* linkOf(Connection& connection, std::int32_t lid);
    [[nodiscard]] bool lockedByOther(std::int32_t lid) const;
    void dropLink(std::int32_t lid);
    void closeConnection(Connection& connection);
    void removeClosed();

    SharedCore& core_;
    int listener_ = -1;
    int port_ = 0;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<Connection*> polled_;  // as collect() listed them, after the listener
    bool listenerPolled_ = false;
    std::map<std::int32_t, Link> links_;
    std::int32_t nextLid_ = 1;
    std::optional<std::int32_t> lockHolder_;
    // For the faults: calls answered over the simulator's lifetime.
    long replies_ = 0;
    long reads_ = 0;
    long writes_ = 0;
};

// The VXI-11 front end, and the portmapper in front of it, when the options
// ask for them; prints "VXI11 HOST:PORT" and "PORTMAPPER HOST:111".
void openVxi11Fronts(SharedCore& core, std::vector<std::unique_ptr<FrontEnd>>& frontEnds);

}  // namespace tq820sim
