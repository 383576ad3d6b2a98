// SPDX-License-Identifier: MIT
// The bare clients are the floor every ratio is taken against, and the
// pipelined row reads fifty replies that arrive together: a reply split or
// run together here would skew every figure of the table.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench_support.h"

namespace {

using tq::bench::BareStream;
using tq::bench::LineResponder;

// A pseudo-terminal whose master side plays the instrument.
struct Terminal {
    int master = -1;
    std::string slave;

    Terminal() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
            throw std::runtime_error("no pseudo-terminal");
        }
        slave = ::ptsname(master);
    }
    ~Terminal() {
        if (master >= 0) ::close(master);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::string receive() const {
        char buffer[256];
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
    }
};

TEST(BareStream, PipelinedRepliesComeBackOneLineEach) {
    LineResponder responder("+7\n");
    BareStream stream = BareStream::connectTcp("127.0.0.1", responder.port());
    std::string batch;
    for (int i = 0; i < 50; ++i) batch += "DATA:POINts?\n";
    stream.send(batch);
    std::string reply;
    for (int i = 0; i < 50; ++i) {
        stream.readLine(reply);
        ASSERT_EQ(reply, "+7\n") << "reply " << i;
    }
    // Nothing was answered twice: the next query gets exactly its own reply.
    stream.send("*IDN?\n");
    stream.readLine(reply);
    EXPECT_EQ(reply, "+7\n");
}

TEST(BareStream, TerminalRepliesAreRawAndJoinedAcrossReads) {
    Terminal terminal;
    BareStream stream = BareStream::openTerminal(terminal.slave);
    stream.send("DATA:POINts?\n");
    // Raw mode: the line end goes out as it is, not as CR LF.
    EXPECT_EQ(terminal.receive(), "DATA:POINts?\n");
    terminal.send("+1");
    terminal.send("2\r");
    terminal.send("\n+3\n");
    std::string reply;
    stream.readLine(reply);
    EXPECT_EQ(reply, "+12\r\n") << "no CR may be dropped or turned into a line end";
    stream.readLine(reply);
    EXPECT_EQ(reply, "+3\n");
}

TEST(BareStream, EndlessOrAbandonedRepliesRaise) {
    {
        Terminal terminal;
        BareStream stream = BareStream::openTerminal(terminal.slave);
        // More than the pty holds: the instrument talks while we read, and
        // gives up when no one reads for a while.
        ::fcntl(terminal.master, F_SETFL, ::fcntl(terminal.master, F_GETFL) | O_NONBLOCK);
        std::thread talker([&terminal] {
            const std::string chunk(1024, 'x');
            for (ssize_t sent = 0; sent < 80 * 1024;) {
                const ssize_t wrote = ::write(terminal.master, chunk.data(), chunk.size());
                if (wrote > 0) {
                    sent += wrote;
                    continue;
                }
                pollfd entry{terminal.master, POLLOUT, 0};
                if (::poll(&entry, 1, 200) <= 0) return;
            }
        });
        std::string reply;
        EXPECT_THROW(stream.readLine(reply), std::runtime_error);
        talker.join();
    }
    Terminal terminal;
    BareStream stream = BareStream::openTerminal(terminal.slave);
    ::close(terminal.master);  // the instrument hangs up
    terminal.master = -1;
    std::string reply;
    EXPECT_THROW(stream.readLine(reply), std::runtime_error);
}

TEST(Samples, PoolEveryAddUnderItsRow) {
    using namespace std::chrono;
    tq::bench::Samples::of("test/a").add(microseconds(5));
    tq::bench::Samples::of("test/b").add(nanoseconds(2500));
    tq::bench::Samples::of("test/a").add(microseconds(7));
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    tq::bench::Samples::writeAll(out);
    std::rewind(out);
    std::string text;
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
    std::fclose(out);
    EXPECT_EQ(text, "test/a 5.000\ntest/a 7.000\ntest/b 2.500\n");
}

}  // namespace
