// SPDX-License-Identifier: MIT
#include "vxi11_front.h"

#include "portmapper.h"
#include "tcp_front.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

// The numbers the simulator serves are those of our vxi11.x, which the
// control's client is generated from.
#include "vxi11/vxi11.h"
static_assert(tq820sim::rpc::kDeviceCoreProgram == DEVICE_CORE);
static_assert(tq820sim::rpc::kDeviceCoreVersion == DEVICE_CORE_VERSION);
static_assert(static_cast<int>(tq820sim::rpc::DeviceProc::CreateLink) == create_link);
static_assert(static_cast<int>(tq820sim::rpc::DeviceProc::DeviceRead) == device_read);
static_assert(static_cast<int>(tq820sim::rpc::DeviceProc::DestroyLink) == destroy_link);
static_assert(static_cast<int>(tq820sim::rpc::DeviceProc::DestroyIntrChan) == destroy_intr_chan);
static_assert(tq820sim::rpc::kFlagEnd == VXI11_END);
static_assert(tq820sim::rpc::kFlagTermChrSet == VXI11_TERMCHRSET);
static_assert(tq820sim::rpc::kReasonEnd == VXI11_REASON_END);
static_assert(tq820sim::rpc::kReasonChr == VXI11_REASON_CHR);
static_assert(tq820sim::rpc::kReasonReqcnt == VXI11_REASON_REQCNT);

namespace tq820sim {

namespace {

using rpc::DeviceError;
using rpc::DeviceProc;

// A device_write carries at most 1 MiB; room for the call header on top.
constexpr std::size_t kMaxRecord = (1 << 20) + 4096;
constexpr std::size_t kMaxReplyBacklog = 1 << 20;
// An io_timeout beyond this is taken as this: the client bounds its own wait.
constexpr std::uint32_t kMaxIoTimeoutMs = 3600 * 1000;

std::string lowered(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

const char* errorName(DeviceError error) {
    switch (error) {
        case DeviceError::NotAccessible:
            return "device not accessible";
        case DeviceError::OutOfResources:
            return "out of resources";
        case DeviceError::Locked:
            return "device locked by another link";
        default:
            return "refused";
    }
}

}  // namespace

Vxi11Front::~Vxi11Front() {
    for (auto& connection : connections_) closeConnection(*connection);
    if (listener_ >= 0) ::close(listener_);
}

std::string Vxi11Front::listen() {
    auto [listener, name] = listenTcp(core_.options.vxi11Host, core_.options.vxi11Port);
    listener_ = listener;
    port_ = std::stoi(name.substr(name.rfind(':') + 1));
    return name;
}

// A connection with a device_read waiting, or about to close, is not read
// from: RPC clients wait for each reply, and whatever else it sends waits in
// the socket rather than in memory.
void Vxi11Front::collect(std::vector<pollfd>& fds) {
    listenerPolled_ = listener_ >= 0;
    if (listenerPolled_) fds.push_back({listener_, POLLIN, 0});
    polled_.clear();
    for (auto& connection : connections_) {
        if (!connection->stream->isOpen()) continue;
        fds.push_back(connection->stream->pollRequest(!busy(*connection)));
        polled_.push_back(connection.get());
    }
}

void Vxi11Front::service(std::span<const pollfd> fds) {
    std::size_t slot = 0;
    if (listenerPolled_ && slot < fds.size() && (fds[slot++].revents & POLLIN) != 0) accept();
    for (Connection* connection : polled_) {
        if (slot >= fds.size()) break;
        const short revents = fds[slot++].revents;
        RpcStream& stream = *connection->stream;
        if ((revents & POLLOUT) != 0 && !stream.flush()) continue;
        if ((revents & (POLLHUP | POLLERR)) != 0 && busy(*connection)) {
            closeConnection(*connection);  // gone while its read waited
            continue;
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !busy(*connection)) {
            if (!stream.receive()) continue;
        }
    }
    for (auto& [lid, link] : links_) releaseDelayed(link);
    for (auto& connection : connections_) {
        if (!connection->stream->isOpen()) continue;
        if (connection->pending && !answerPendingRead(*connection)) continue;
        pump(*connection);
        if (connection->closeWhenSent && connection->stream->drained()) closeConnection(*connection);
    }
    closeIdle();
    removeClosed();
}

// A connection with no read waiting on it (that wait has its own bound)
// that made no call for --idle-timeout seconds is closed: idle or trickling
// clients must not hold the table for ever.
std::optional<Steady::time_point> Vxi11Front::idleDeadline(const Connection& connection) const {
    if (connection.pending) return std::nullopt;
    return tq820sim::idleDeadline(*connection.stream, core_.options.idleTimeoutS);
}

void Vxi11Front::closeIdle() {
    const auto now = Steady::now();
    for (auto& connection : connections_) {
        const auto due = idleDeadline(*connection);
        if (!due || *due > now) continue;
        core_.transcript.write("FAULT", "VXI-11: " + connection->stream->peer() + " idle for " +
                                            std::to_string(core_.options.idleTimeoutS) +
                                            " s; closed");
        closeConnection(*connection);
    }
}

// The table is full: the connection that has gone longest without a call
// makes room, so that a client that is working is always served.
void Vxi11Front::closeLongestIdle() {
    Connection* longest = nullptr;
    for (auto& connection : connections_) {
        if (!connection->stream->isOpen()) continue;
        if (longest == nullptr ||
            connection->stream->lastActive() < longest->stream->lastActive())
            longest = connection.get();
    }
    if (longest == nullptr) return;
    core_.transcript.write("FAULT", "VXI-11: " + std::to_string(kMaxConnections) +
                                        " connections; the longest idle (" +
                                        longest->stream->peer() + ") closed for a new one");
    closeConnection(*longest);
}

std::size_t Vxi11Front::openConnections() const {
    return static_cast<std::size_t>(
        std::count_if(connections_.begin(), connections_.end(),
                      [](const auto& connection) { return connection->stream->isOpen(); }));
}

std::optional<Steady::time_point> Vxi11Front::deadline() const {
    std::optional<Steady::time_point> next;
    auto consider = [&](Steady::time_point due) {
        if (!next || due < *next) next = due;
    };
    for (const auto& connection : connections_) {
        if (connection->pending) consider(connection->pending->deadline);
        if (const auto due = idleDeadline(*connection)) consider(*due);
    }
    for (const auto& [lid, link] : links_) {
        if (const auto due = link.delayed.nextDue()) consider(*due);
    }
    return next;
}

void Vxi11Front::accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    // The one closed stays in the table, closed, until removeClosed():
    // service() still walks the connections it polled.
    if (openConnections() >= kMaxConnections) closeLongestIdle();
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    auto connection = std::make_unique<Connection>();
    connection->stream = std::make_unique<RpcStream>(fd, peerName(fd), kMaxRecord);
    connections_.push_back(std::move(connection));
}

// Handles the calls that are in, one after another, until one has to wait.
void Vxi11Front::pump(Connection& connection) {
    while (connection.stream->isOpen() && !connection.pending && !connection.closeWhenSent) {
        std::optional<std::string> record;
        try {
            record = connection.stream->nextRecord();
        } catch (const rpc::ProtocolError& error) {
            core_.transcript.write("FAULT", std::string("VXI-11: ") + error.what() +
                                                "; connection closed");
            closeConnection(connection);
            return;
        }
        if (!record) return;
        rpc::Dispatch dispatch = rpc::dispatchCall(*record, rpc::Service::DeviceCore);
        if (dispatch.request)
            handle(connection, *dispatch.request);
        else if (!dispatch.reply.empty())
            connection.stream->send(dispatch.reply, 0);
    }
}

void Vxi11Front::handle(Connection& connection, const rpc::Request& request) {
    switch (static_cast<DeviceProc>(request.procedure)) {
        case DeviceProc::Null:
            return reply(connection, request.xid, {});
        case DeviceProc::CreateLink:
            return createLink(connection, request);
        case DeviceProc::DeviceWrite:
            return write(connection, request);
        case DeviceProc::DeviceRead:
            return read(connection, request);
        case DeviceProc::DeviceReadStb:
        case DeviceProc::DeviceClear:
        case DeviceProc::DeviceRemote:
        case DeviceProc::DeviceLocal:
        case DeviceProc::DeviceTrigger:
            return generic(connection, request);
        case DeviceProc::DeviceLock:
            return lock(connection, request);
        case DeviceProc::DeviceUnlock:
            return unlock(connection, request);
        case DeviceProc::DestroyLink:
            return destroyLink(connection, request);
        case DeviceProc::DeviceEnableSrq:
        case DeviceProc::CreateIntrChan:
        case DeviceProc::DestroyIntrChan:
            // No interrupt channel: service requests are not simulated.
            return reply(connection, request.xid, rpc::errorResult(DeviceError::NotSupported));
        case DeviceProc::DeviceDocmd: {
            // docmd's results carry data_out after the error.
            std::string results = rpc::errorResult(DeviceError::NotSupported);
            results.append(4, '\0');
            return reply(connection, request.xid, results);
        }
    }
}

void Vxi11Front::reply(Connection& connection, std::uint32_t xid, std::string_view results) {
    const auto fragment = static_cast<std::size_t>(core_.options.rpcFragment);
    if (++replies_ != core_.options.vxi11LyingRecord) {
        connection.stream->send(rpc::successReply(xid, results), fragment);
        return;
    }
    // The first mark claims 4 bytes fewer than its fragment holds: the
    // client's reply is cut short and its last word taken for a mark.
    std::string framed = rpc::frameRecord(rpc::successReply(xid, results), fragment);
    auto* mark = reinterpret_cast<unsigned char*>(framed.data());
    std::uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word = word << 8 | mark[i];
    if ((word & 0x7FFFFFFFU) >= 4) word -= 4;
    for (int i = 0; i < 4; ++i) mark[i] = static_cast<unsigned char>(word >> (24 - 8 * i));
    core_.transcript.write("FAULT", "VXI-11: the record mark of reply " +
                                        std::to_string(replies_) +
                                        " claims 4 bytes fewer than it carries");
    connection.stream->sendFramed(framed);
}

// "inst0" for an instrument on the LAN; "gpib0,<address>" behind a gateway,
// where only the instrument's own primary address answers.
bool Vxi11Front::accessible(const std::string& device) const {
    const std::string name = lowered(device);
    if (!core_.options.gateway) return name == "inst0";
    const std::string primary = "gpib0," + std::to_string(core_.options.gpibAddress);
    if (name == primary) return true;
    return core_.options.gpibSecondary != 0 &&
           name == primary + "," + std::to_string(core_.options.gpibSecondary - 96);
}

void Vxi11Front::createLink(Connection& connection, const rpc::Request& request) {
    const auto& args = std::get<rpc::CreateLinkArgs>(request.arguments);
    DeviceError error = DeviceError::None;
    if (!accessible(args.device))
        error = DeviceError::NotAccessible;
    else if (links_.size() >= kMaxLinks)
        error = DeviceError::OutOfResources;
    else if (args.lockDevice && lockHolder_)
        error = DeviceError::Locked;
    if (error != DeviceError::None) {
        core_.transcript.write("FAULT", "VXI-11: link to \"" + escapeForTranscript(args.device) +
                                            "\" refused: " + errorName(error));
        return reply(connection, request.xid, rpc::createLinkResult(error, 0, 0));
    }
    const std::int32_t lid = nextLid_++;
    Link& link = links_[lid];
    link.owner = &connection;
    link.device = args.device;
    link.session = std::make_unique<Session>(core_.instrument, core_.faults);
    if (args.lockDevice) lockHolder_ = lid;
    core_.transcript.write("OPEN", connection.stream->peer() + " " + link.device);
    reply(connection, request.xid,
          rpc::createLinkResult(DeviceError::None, lid,
                                static_cast<std::uint32_t>(core_.options.maxRecvSize)));
}

void Vxi11Front::write(Connection& connection, const rpc::Request& request) {
    const auto& args = std::get<rpc::WriteArgs>(request.arguments);
    Link* link = linkOf(connection, args.lid);
    DeviceError error = DeviceError::None;
    if (link == nullptr)
        error = DeviceError::InvalidLink;
    else if (lockedByOther(args.lid))
        error = DeviceError::Locked;
    else if (args.data.size() > static_cast<std::size_t>(core_.options.maxRecvSize))
        error = DeviceError::Parameter;
    if (error != DeviceError::None) return reply(connection, request.xid, rpc::writeResult(error, 0));

    // END ends the message as a line end does on a socket.
    std::string bytes = args.data;
    if ((args.flags & rpc::kFlagEnd) != 0 && (bytes.empty() || bytes.back() != '\n')) bytes += '\n';
    Output output = link->session->receive(bytes);
    recordEvents(core_.transcript, output.events);
    const auto due = Steady::now() + std::chrono::milliseconds(core_.options.replyDelayMs);
    for (std::string& message : output.replies) {
        if (core_.options.replyDelayMs > 0) {
            link->delayed.hold(due, std::move(message), false);
        } else {
            link->bytes += message.size();
            link->replies.push_back(std::move(message));
        }
    }
    reply(connection, request.xid,
          rpc::writeResult(DeviceError::None, static_cast<std::uint32_t>(args.data.size())));
    if (backlog(*link) > kMaxReplyBacklog) {
        core_.transcript.write("FAULT", "VXI-11: client does not read its replies; connection "
                                        "closed");
        output.close = true;
    }
    if (output.close) connection.closeWhenSent = true;
    if (++writes_ == core_.options.vxi11DropLink) {
        core_.transcript.write("FAULT", "VXI-11: link " + std::to_string(args.lid) +
                                            " died after device_write " + std::to_string(writes_));
        dropLink(args.lid);
    }
}

void Vxi11Front::read(Connection& connection, const rpc::Request& request) {
    const auto& args = std::get<rpc::ReadArgs>(request.arguments);
    Link* link = linkOf(connection, args.lid);
    DeviceError error = DeviceError::None;
    if (link == nullptr)
        error = DeviceError::InvalidLink;
    else if (lockedByOther(args.lid))
        error = DeviceError::Locked;
    if (error != DeviceError::None) return reply(connection, request.xid, rpc::readResult(error, 0, {}));
    if (++reads_ == core_.options.vxi11EmptyRead) {
        core_.transcript.write("FAULT", "VXI-11: device_read " + std::to_string(reads_) +
                                            " answered REQCNT with no data");
        return reply(connection, request.xid,
                     rpc::readResult(DeviceError::None, rpc::kReasonReqcnt, {}));
    }
    const auto wait = std::chrono::milliseconds(std::min(args.ioTimeout, kMaxIoTimeoutMs));
    connection.pending = PendingRead{request.xid, args, Steady::now() + wait};
    answerPendingRead(connection);
}

// Answers the waiting device_read once a reply is in, or with "I/O timeout"
// once its io_timeout has passed; false while it still waits.
bool Vxi11Front::answerPendingRead(Connection& connection) {
    PendingRead& pending = *connection.pending;
    Link* link = linkOf(connection, pending.args.lid);
    if (link != nullptr && link->replies.empty() && Steady::now() < pending.deadline) return false;
    std::string results = link == nullptr ? rpc::readResult(DeviceError::InvalidLink, 0, {})
                          : link->replies.empty()
                              ? rpc::readResult(DeviceError::IoTimeout, 0, {})
                              : takeReply(*link, pending.args);
    const std::uint32_t xid = pending.xid;
    connection.pending.reset();
    reply(connection, xid, results);
    return true;
}

// Up to requestSize bytes of the oldest reply (and at most --read-block),
// cut after the termination character when the client set one. END goes
// with the reply's last byte, as EOI does on the bus.
std::string Vxi11Front::takeReply(Link& link, const rpc::ReadArgs& args) {
    const std::string& message = link.replies.front();
    std::size_t count = std::min<std::size_t>(args.requestSize, message.size() - link.taken);
    if (core_.options.readBlock > 0)
        count = std::min(count, static_cast<std::size_t>(core_.options.readBlock));
    std::int32_t reason = 0;
    if ((args.flags & rpc::kFlagTermChrSet) != 0) {
        const std::size_t at = message.find(args.termChar, link.taken);
        if (at != std::string::npos && at < link.taken + count) {
            count = at + 1 - link.taken;
            reason |= rpc::kReasonChr;
        }
    }
    if (count == args.requestSize) reason |= rpc::kReasonReqcnt;
    const std::string data = message.substr(link.taken, count);
    link.taken += count;
    link.bytes -= count;
    if (link.taken == message.size()) {
        reason |= rpc::kReasonEnd;
        link.replies.pop_front();
        link.taken = 0;
    }
    return rpc::readResult(DeviceError::None, reason, data);
}

void Vxi11Front::releaseDelayed(Link& link) {
    const auto now = Steady::now();
    while (std::optional<std::string> message = link.delayed.takeDue(now)) {
        link.bytes += message->size();
        link.replies.push_back(std::move(*message));
    }
}

// Replies waiting to be read and those still held back, by what they cost,
// so that a client that never reads is cut off with a delay as without.
std::size_t Vxi11Front::backlog(const Link& link) {
    return link.bytes + link.replies.size() * DelayedReplies::kEntryCost + link.delayed.cost();
}

void Vxi11Front::generic(Connection& connection, const rpc::Request& request) {
    const auto& args = std::get<rpc::GenericArgs>(request.arguments);
    const auto procedure = static_cast<DeviceProc>(request.procedure);
    Link* link = linkOf(connection, args.lid);
    DeviceError error = DeviceError::None;
    if (link == nullptr)
        error = DeviceError::InvalidLink;
    else if (procedure != DeviceProc::DeviceReadStb && lockedByOther(args.lid))
        error = DeviceError::Locked;
    else if (procedure == DeviceProc::DeviceTrigger)
        error = DeviceError::NotSupported;  // the simulation has no bus trigger
    if (error != DeviceError::None) {
        return reply(connection, request.xid,
                     procedure == DeviceProc::DeviceReadStb ? rpc::readStbResult(error, 0)
                                                            : rpc::errorResult(error));
    }
    switch (procedure) {
        case DeviceProc::DeviceReadStb: {
            // Bit 4 (MAV): a reply waits to be read on this link.
            const int stb = core_.instrument.statusByte() | (link->replies.empty() ? 0 : 16);
            return reply(connection, request.xid,
                         rpc::readStbResult(DeviceError::None, static_cast<std::uint8_t>(stb)));
        }
        case DeviceProc::DeviceClear:
            link->replies.clear();
            link->delayed.clear();
            link->taken = 0;
            link->bytes = 0;
            link->session = std::make_unique<Session>(core_.instrument, core_.faults);
            core_.transcript.write("CLEAR", link->device);
            break;
        case DeviceProc::DeviceRemote:
        case DeviceProc::DeviceLocal:
            core_.instrument.setRemote(procedure == DeviceProc::DeviceRemote);
            break;
        default:
            break;
    }
    reply(connection, request.xid, rpc::errorResult(DeviceError::None));
}

// One lock for the instrument. A lock held by another link is reported at
// once: waiting lock_timeout for it is not simulated.
void Vxi11Front::lock(Connection& connection, const rpc::Request& request) {
    const auto& args = std::get<rpc::LockArgs>(request.arguments);
    DeviceError error = DeviceError::None;
    if (linkOf(connection, args.lid) == nullptr)
        error = DeviceError::InvalidLink;
    else if (lockedByOther(args.lid))
        error = DeviceError::Locked;
    else
        lockHolder_ = args.lid;
    reply(connection, request.xid, rpc::errorResult(error));
}

void Vxi11Front::unlock(Connection& connection, const rpc::Request& request) {
    const auto& args = std::get<rpc::LinkArgs>(request.arguments);
    DeviceError error = DeviceError::None;
    if (linkOf(connection, args.lid) == nullptr)
        error = DeviceError::InvalidLink;
    else if (lockHolder_ != args.lid)
        error = DeviceError::NoLock;
    else
        lockHolder_.reset();
    reply(connection, request.xid, rpc::errorResult(error));
}

void Vxi11Front::destroyLink(Connection& connection, const rpc::Request& request) {
    const auto& args = std::get<rpc::LinkArgs>(request.arguments);
    if (linkOf(connection, args.lid) == nullptr)
        return reply(connection, request.xid, rpc::errorResult(DeviceError::InvalidLink));
    dropLink(args.lid);
    reply(connection, request.xid, rpc::errorResult(DeviceError::None));
}

// A link is used only through the connection that made it.
Vxi11Front::Link* Vxi11Front::linkOf(Connection& connection, std::int32_t lid) {
    const auto found = links_.find(lid);
    if (found == links_.end() || found->second.owner != &connection) return nullptr;
    return &found->second;
}

bool Vxi11Front::lockedByOther(std::int32_t lid) const {
    return lockHolder_ && *lockHolder_ != lid;
}

void Vxi11Front::dropLink(std::int32_t lid) {
    const auto found = links_.find(lid);
    if (found == links_.end()) return;
    core_.transcript.write("CLOSE",
                           found->second.owner->stream->peer() + " " + found->second.device);
    if (lockHolder_ == lid) lockHolder_.reset();
    links_.erase(found);
}

void Vxi11Front::closeConnection(Connection& connection) {
    std::vector<std::int32_t> owned;
    for (const auto& [lid, link] : links_) {
        if (link.owner == &connection) owned.push_back(lid);
    }
    for (std::int32_t lid : owned) dropLink(lid);
    connection.pending.reset();
    connection.stream->close();
}

void Vxi11Front::removeClosed() {
    for (auto& connection : connections_) {
        if (!connection->stream->isOpen()) closeConnection(*connection);
    }
    std::erase_if(connections_,
                  [](const auto& connection) { return !connection->stream->isOpen(); });
}

void openVxi11Fronts(SharedCore& core, std::vector<std::unique_ptr<FrontEnd>>& frontEnds) {
    if (!core.options.vxi11) return;
    auto vxi11 = std::make_unique<Vxi11Front>(core);
    std::printf("VXI11 %s\n", vxi11->listen().c_str());
    if (core.options.portmapper) {
        auto portmapper = std::make_unique<PortmapperFront>(core, vxi11->port());
        std::printf("PORTMAPPER %s\n", portmapper->listen().c_str());
        frontEnds.push_back(std::move(portmapper));
    }
    frontEnds.push_back(std::move(vxi11));
}

}  // namespace tq820sim
