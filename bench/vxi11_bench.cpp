// SPDX-License-Identifier: MIT
// One query's round trip, "DATA:POINts?" as the program polls it, over
// VXI-11 against one running tq820-sim (with its portmapper, so in a network
// namespace of its own): through the control, through lxi-tools' liblxi, and
// as the floor, two bare exchanges of records encoded beforehand
// (device_write, then device_read) on one connection; beside them the raw
// socket's round trip on the same simulator. Rows are interleaved in rounds;
// every sample goes out as a "row microseconds" line.
//
//   tq820-vxi11-bench --tcp HOST:PORT --vxi11 HOST:PORT --round-trips N --rounds R --samples FILE
#include <arpa/inet.h>
#include <lxi.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "corvalenlib/widgets/control.h"
#include "corvalenlib/transports/rpc_stream.h"
#include "vxi11/vxi11.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kQuery = "DATA:POINts?";
constexpr int kWarmUp = 20;

struct Address {
    std::string host;
    std::uint16_t port = 0;
};

Address parseAddress(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) throw std::invalid_argument("HOST:PORT wanted, not " + text);
    return {text.substr(0, colon), static_cast<std::uint16_t>(std::stoi(text.substr(colon + 1)))};
}

// A blocking TCP connection to the simulator, Nagle off, as every client has it.
class Connection {
public:
    explicit Connection(const Address& address)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(address.port);
        ::inet_pton(AF_INET, address.host.c_str(), &peer.sin_addr);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
            throw std::runtime_error("cannot connect to " + address.host + ":" +
                                     std::to_string(address.port));
        }
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~Connection() { ::close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void send(const std::string& bytes) {
        if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("send failed");
        }
    }
    // Exactly count bytes.
    void receive(char* into, std::size_t count) {
        while (count > 0) {
            const ssize_t got = ::recv(fd_, into, count, 0);
            if (got <= 0) throw std::runtime_error("connection lost");
            into += got;
            count -= static_cast<std::size_t>(got);
        }
    }
    // One reply line, LF included, read as one recv as a bare client does.
    void receiveLine(std::string& line) {
        line.resize(256);
        const ssize_t got = ::recv(fd_, line.data(), line.size(), 0);
        if (got <= 0 || line[static_cast<std::size_t>(got) - 1] != '\n')
            throw std::runtime_error("no line");
        line.resize(static_cast<std::size_t>(got));
    }
    // One whole RPC record, however many fragments; one recv when it came whole.
    void receiveRecord(std::string& record) {
        record.clear();
        for (bool last = false; !last;) {
            const std::size_t length = fragmentHeader(last);
            const std::size_t at = record.size();
            record.resize(at + length);
            const std::size_t ready = std::min(length, end_ - begin_);
            std::copy_n(inbox_ + begin_, ready, record.data() + at);
            begin_ += ready;
            receive(record.data() + at + ready, length - ready);
        }
    }

private:
    std::size_t fragmentHeader(bool& last) {
        if (begin_ == end_) {
            const ssize_t got = ::recv(fd_, inbox_, sizeof inbox_, 0);
            if (got <= 0) throw std::runtime_error("connection lost");
            begin_ = 0;
            end_ = static_cast<std::size_t>(got);
        }
        unsigned char mark[4];
        const std::size_t ready = std::min<std::size_t>(4, end_ - begin_);
        std::copy_n(inbox_ + begin_, ready, mark);
        begin_ += ready;
        receive(reinterpret_cast<char*>(mark) + ready, 4 - ready);
        last = (mark[0] & 0x80U) != 0;
        return (static_cast<std::size_t>(mark[0] & 0x7FU) << 24) |
               (static_cast<std::size_t>(mark[1]) << 16) |
               (static_cast<std::size_t>(mark[2]) << 8) | mark[3];
    }

    char inbox_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    int fd_;
};

template <typename Arguments>
std::string encodedCall(std::uint32_t xid, std::uint32_t procedure,
                        bool_t (*encode)(XDR*, Arguments*), Arguments arguments,
                        std::size_t limit) {
    std::string record;
    CorvalenLib::rpc::appendCall(record, {xid, DEVICE_CORE, DEVICE_CORE_VERSION, procedure}, limit,
                                 [&](XDR* stream) { return encode(stream, &arguments) != 0; });
    return record;
}

using Body = std::function<void()>;

struct Row {
    std::string name;
    Body setUp;      // connects, once
    Body roundTrip;  // one query and its reply
};

}  // namespace

int main(int argc, char** argv) {
    try {
        Address tcp;
        Address vxi;
        int roundTrips = 200;
        int rounds = 10;
        std::string samplesPath;
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string option = argv[i];
            const std::string value = argv[i + 1];
            if (option == "--tcp")
                tcp = parseAddress(value);
            else if (option == "--vxi11")
                vxi = parseAddress(value);
            else if (option == "--round-trips")
                roundTrips = std::stoi(value);
            else if (option == "--rounds")
                rounds = std::stoi(value);
            else if (option == "--samples")
                samplesPath = value;
            else
                throw std::invalid_argument("unknown option " + option);
        }
        if (tcp.port == 0 || vxi.port == 0 || samplesPath.empty()) {
            throw std::invalid_argument("--tcp, --vxi11 and --samples are required");
        }

        // The control, as the program uses it.
        CorvalenLib::Control control;
        std::int32_t count = -1;
        // liblxi, through the same portmapper.
        int lxi = -1;
        char lxiReply[256];
        // The raw socket on the same simulator.
        std::unique_ptr<Connection> raw;
        std::string line;
        // The floor: the records written once, the link made once.
        std::unique_ptr<Connection> floor;
        std::string writeCall;
        std::string readCall;
        std::string record;

        std::vector<Row> rows{
            {"vxi11/control", [&] { control.OpenIO("TCPIP::" + tcp.host + "::inst0::INSTR"); },
             [&] {
                 control.Output(kQuery);
                 control.Enter(count);
             }},
            {"vxi11/liblxi",
             [&] {
                 lxi_init();
                 lxi = lxi_connect(tcp.host.c_str(), 0, "inst0", 5000, VXI11);
                 if (lxi < 0) throw std::runtime_error("lxi_connect failed");
             },
             [&] {
                 if (lxi_send(lxi, kQuery.c_str(), static_cast<int>(kQuery.size()), 5000) < 0 ||
                     lxi_receive(lxi, lxiReply, sizeof lxiReply, 5000) <= 0) {
                     throw std::runtime_error("liblxi exchange failed");
                 }
             }},
            {"vxi11/socket", [&] { raw = std::make_unique<Connection>(tcp); },
             [&] {
                 raw->send(kQuery + "\n");
                 raw->receiveLine(line);
             }},
            {"vxi11/floor",
             [&] {
                 floor = std::make_unique<Connection>(vxi);
                 std::string device = "inst0";
                 Create_LinkParms link{};
                 link.device = device.data();
                 floor->send(encodedCall(1, create_link, xdr_Create_LinkParms, link, 64));
                 floor->receiveRecord(record);
                 Create_LinkResp made{};
                 const auto results = CorvalenLib::rpc::acceptedResults(record, 1);
                 if (!results) throw std::runtime_error("no create_link reply");
                 CorvalenLib::rpc::decodeResults(*results, xdr_Create_LinkResp, made,
                                                 "create_link");
                 Device_WriteParms write{};
                 write.lid = made.lid;
                 write.io_timeout = 5000;
                 write.flags = VXI11_END;
                 std::string data = kQuery + "\n";
                 write.data.data_len = static_cast<u_int>(data.size());
                 write.data.data_val = data.data();
                 writeCall =
                     encodedCall(2, device_write, xdr_Device_WriteParms, write, 64 + data.size());
                 Device_ReadParms read{};
                 read.lid = made.lid;
                 read.requestSize = 1024 * 1024;
                 read.io_timeout = 5000;
                 read.flags = VXI11_TERMCHRSET;
                 read.termChar = '\n';
                 readCall = encodedCall(3, device_read, xdr_Device_ReadParms, read, 64);
             },
             [&] {
                 floor->send(writeCall);
                 floor->receiveRecord(record);
                 floor->send(readCall);
                 floor->receiveRecord(record);
             }},
        };
        for (auto& row : rows) {
            row.setUp();
            for (int i = 0; i < kWarmUp; ++i) row.roundTrip();
        }
        // Short stretches of each row in turn, in a fresh order every
        // time, so that a slow moment of the machine falls on all rows
        // alike and their 99th percentiles compare like with like.
        constexpr int kStretch = 25;
        std::ofstream samples(samplesPath);
        std::vector<std::size_t> order(rows.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::minstd_rand shuffle(20261209);
        for (int round = 0; round < rounds; ++round) {
            for (int done = 0; done < roundTrips; done += kStretch) {
                std::shuffle(order.begin(), order.end(), shuffle);
                for (const auto index : order) {
                    auto& row = rows[index];
                    for (int i = 0; i < std::min(kStretch, roundTrips - done); ++i) {
                        const auto start = Clock::now();
                        row.roundTrip();
                        const double micros =
                            std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                        samples << row.name << ' ' << micros << '\n';
                    }
                }
            }
        }
        if (count < 0 || std::string(lxiReply, 1) != "+")
            throw std::runtime_error("unexpected replies");
        if (lxi >= 0) lxi_disconnect(lxi);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "tq820-vxi11-bench: " << error.what() << '\n';
        return 1;
    }
}
