// tq820-sim: serves the simulated instrument over TCP (one client at a time,
// the next one when it leaves) and over a serial pseudo-terminal, from one
// poll() loop. Replies go out as soon as a full line is in.

#include "options.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

namespace tq820sim {
namespace {

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void requestStop(int) {
    stopRequested = 1;
}

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point start) {
    return std::chrono::duration<double>(Steady::now() - start).count();
}

class RealClock final : public Clock {
public:
    RealClock(Steady::time_point start, double speed) : start_(start), speed_(speed) {}
    [[nodiscard]] double seconds() const override { return secondsSince(start_) * speed_; }
    [[nodiscard]] double epochSeconds() const override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }

private:
    Steady::time_point start_;
    double speed_;
};

class Transcript {
public:
    Transcript(const std::string& path, Steady::time_point start) : start_(start) {
        if (path.empty()) return;
        file_ = std::fopen(path.c_str(), "w");
        if (file_ == nullptr)
            throw std::runtime_error("cannot write transcript " + path + ": " +
                                     std::strerror(errno));
    }
    ~Transcript() {
        if (file_ != nullptr) std::fclose(file_);
    }
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void write(const char* kind, const std::string& text) {
        if (file_ == nullptr) return;
        std::fprintf(file_, "%.6f %s %s\n", secondsSince(start_), kind, text.c_str());
        std::fflush(file_);
    }

private:
    std::FILE* file_ = nullptr;
    Steady::time_point start_;
};

void setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A client stream: a TCP connection or the pseudo-terminal's master side.
struct Link {
    static constexpr std::size_t kMaxBacklog = 1 << 20;

    int fd = -1;
    bool socket = false;
    std::string peer;
    std::unique_ptr<Session> session;
    std::deque<std::pair<Steady::time_point, std::string>> delayed;
    std::string unsent;
    bool closeWhenSent = false;

    [[nodiscard]] bool open() const { return fd >= 0; }
    [[nodiscard]] bool idle() const { return delayed.empty() && unsent.empty(); }
};

class Server {
public:
    explicit Server(const SimulatorOptions& options)
        : options_(options),
          start_(Steady::now()),
          clock_(start_, options.speed),
          instrument_(clock_, options.instrument),
          faults_(options.faults),
          transcript_(options.transcript, start_) {}

    ~Server() {
        closeLink(client_);
        closeLink(pty_);
        if (listener_ >= 0) ::close(listener_);
        if (ptySlave_ >= 0) ::close(ptySlave_);
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    void start() {
        for (const std::string& fault : describeFaults(options_)) transcript_.write("FAULT", fault);
        if (options_.tcp) std::printf("TCP %s\n", listen().c_str());
        if (options_.pty) std::printf("PTY %s\n", openPty().c_str());
        std::fflush(stdout);
    }

    void run() {
        while (stopRequested == 0 && (listener_ >= 0 || pty_.open())) {
            pollOnce();
        }
    }

private:
    std::string listen() {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE;
        addrinfo* found = nullptr;
        const std::string port = std::to_string(options_.port);
        if (const int status = getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &found);
            status != 0) {
            throw std::runtime_error("cannot resolve " + options_.host + ": " +
                                     gai_strerror(status));
        }
        std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(found, freeaddrinfo);
        listener_ = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) fail("socket");
        const int yes = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(listener_, found->ai_addr, found->ai_addrlen) != 0) {
            fail("cannot listen on " + options_.host + ":" + port);
        }
        if (::listen(listener_, 8) != 0) fail("listen");
        setNonBlocking(listener_);
        sockaddr_in bound{};
        socklen_t length = sizeof bound;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
        char host[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &bound.sin_addr, host, sizeof host);
        return std::string(host) + ":" + std::to_string(ntohs(bound.sin_port));
    }

    // Keeps a slave descriptor open itself, so that the master never reports
    // a hang-up while the client closes and reopens the device.
    std::string openPty() {
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0) fail("posix_openpt");
        if (grantpt(master) != 0 || unlockpt(master) != 0) fail("grantpt/unlockpt");
        const char* name = ptsname(master);
        if (name == nullptr) fail("ptsname");
        std::string path = name;
        ptySlave_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (ptySlave_ < 0) fail("open " + path);
        termios line{};
        if (tcgetattr(ptySlave_, &line) == 0) {
            cfmakeraw(&line);
            tcsetattr(ptySlave_, TCSANOW, &line);
        }
        setNonBlocking(master);
        pty_.fd = master;
        pty_.peer = path;
        pty_.session = std::make_unique<Session>(instrument_, faults_);
        transcript_.write("OPEN", path);
        return path;
    }

    void pollOnce() {
        pollfd fds[3] = {};
        nfds_t count = 0;
        int listenerSlot = -1;
        int clientSlot = -1;
        int ptySlot = -1;
        if (client_.open()) {
            clientSlot = static_cast<int>(count);
            fds[count++] = {client_.fd,
                            static_cast<short>(POLLIN | (client_.unsent.empty() ? 0 : POLLOUT)), 0};
        } else if (listener_ >= 0) {
            listenerSlot = static_cast<int>(count);
            fds[count++] = {listener_, POLLIN, 0};
        }
        if (pty_.open()) {
            ptySlot = static_cast<int>(count);
            fds[count++] = {pty_.fd,
                            static_cast<short>(POLLIN | (pty_.unsent.empty() ? 0 : POLLOUT)), 0};
        }
        const int ready = ::poll(fds, count, timeoutMs());
        if (ready < 0 && errno != EINTR) fail("poll");
        releaseDelayed(client_);
        releaseDelayed(pty_);
        if (ready <= 0) return;
        if (listenerSlot >= 0 && (fds[listenerSlot].revents & POLLIN) != 0) accept();
        if (clientSlot >= 0) service(client_, fds[clientSlot].revents);
        if (ptySlot >= 0) service(pty_, fds[ptySlot].revents);
    }

    // Until the next delayed reply is due; forever when none waits.
    int timeoutMs() const {
        std::optional<Steady::time_point> next;
        for (const Link* link : {&client_, &pty_}) {
            if (!link->delayed.empty() && (!next || link->delayed.front().first < *next)) {
                next = link->delayed.front().first;
            }
        }
        if (!next) return -1;
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(*next - Steady::now()).count();
        return wait < 0 ? 0 : static_cast<int>(wait);
    }

    void accept() {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return;
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        char host[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
        client_.fd = fd;
        client_.socket = true;
        client_.peer = std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
        client_.session = std::make_unique<Session>(instrument_, faults_);
        transcript_.write("OPEN", client_.peer);
    }

    void service(Link& link, short events) {
        if ((events & POLLOUT) != 0) flush(link);
        if (link.open() && (events & (POLLIN | POLLHUP | POLLERR)) != 0) receive(link);
    }

    void receive(Link& link) {
        char buffer[65536];
        const ssize_t got = ::read(link.fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
        if (got < 0 && errno == EIO && !link.socket) return;  // no one has the slave open
        if (got <= 0) {
            closeLink(link);
            return;
        }
        Output output =
            link.session->receive(std::string_view(buffer, static_cast<std::size_t>(got)));
        for (const Event& event : output.events) {
            const char* kind = event.kind == Event::Kind::Received ? "RX"
                               : event.kind == Event::Kind::Sent   ? "TX"
                                                                   : "FAULT";
            transcript_.write(kind, event.text);
        }
        for (std::string& reply : output.replies) {
            if (options_.replyDelayMs > 0) {
                link.delayed.emplace_back(
                    Steady::now() + std::chrono::milliseconds(options_.replyDelayMs),
                    std::move(reply));
            } else {
                link.unsent += reply;
            }
        }
        if (output.close) link.closeWhenSent = true;
        flush(link);
    }

    void releaseDelayed(Link& link) {
        if (!link.open()) return;
        bool released = false;
        while (!link.delayed.empty() && link.delayed.front().first <= Steady::now()) {
            link.unsent += link.delayed.front().second;
            link.delayed.pop_front();
            released = true;
        }
        if (released) flush(link);
    }

    // One write for everything that is ready; what the peer cannot take yet
    // waits for POLLOUT, within a bound.
    void flush(Link& link) {
        while (!link.unsent.empty()) {
            const ssize_t sent =
                link.socket ? ::send(link.fd, link.unsent.data(), link.unsent.size(), MSG_NOSIGNAL)
                            : ::write(link.fd, link.unsent.data(), link.unsent.size());
            if (sent < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) break;
                closeLink(link);
                return;
            }
            link.unsent.erase(0, static_cast<std::size_t>(sent));
        }
        if (link.unsent.size() > Link::kMaxBacklog) {
            transcript_.write("FAULT", "peer does not read its replies; connection closed");
            closeLink(link);
            return;
        }
        if (link.closeWhenSent && link.idle()) closeLink(link);
    }

    void closeLink(Link& link) {
        if (!link.open()) return;
        ::close(link.fd);
        link.fd = -1;
        transcript_.write("CLOSE", link.peer);
        link.session.reset();
        link.delayed.clear();
        link.unsent.clear();
        link.closeWhenSent = false;
        if (&link == &pty_ && ptySlave_ >= 0) {
            ::close(ptySlave_);
            ptySlave_ = -1;
        }
    }

    const SimulatorOptions& options_;
    Steady::time_point start_;
    RealClock clock_;
    Instrument instrument_;
    ConnectionFaults faults_;
    Transcript transcript_;
    int listener_ = -1;
    int ptySlave_ = -1;
    Link client_;
    Link pty_;
};

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace
}  // namespace tq820sim

int main(int argc, char** argv) {
    using namespace tq820sim;
    SimulatorOptions options;
    try {
        options = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const OptionsError& error) {
        std::fprintf(stderr, "tq820-sim: %s\n", error.what());
        return 2;
    }
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    try {
        installSignalHandlers();
        Server server(options);
        server.start();
        server.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tq820-sim: %s\n", error.what());
        return 1;
    }
    return 0;
}
