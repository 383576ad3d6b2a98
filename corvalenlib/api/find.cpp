// SPDX-License-Identifier: MIT
// The public search: the dialog's parts run on threads of their own, their
// entries handed to the caller's thread as they come, the whole bounded.
#include <corvalen/corvalen.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <variant>

#include "corvalenlib/discovery/finder.h"
#include "corvalenlib/discovery/serial_ports.h"

namespace corvalen {
namespace {

namespace lib = CorvalenLib;
using Clock = std::chrono::steady_clock;

// What the parts report, queued for the caller's thread.
class Queue {
public:
    using Item = std::variant<Found, std::string>;

    void push(Item item) {
        std::lock_guard lock(mutex_);
        if (cancelled_) return;
        items_.push_back(std::move(item));
        wake_.notify_all();
    }
    bool claim(const std::string& resource) {
        std::lock_guard lock(mutex_);
        return claimed_.insert(resource).second;
    }
    [[nodiscard]] bool cancelled() const {
        std::lock_guard lock(mutex_);
        return cancelled_;
    }

    // Waits for the next item until deadline; nullopt once every part has
    // ended and the queue is empty, or at the deadline.
    std::optional<Item> next(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, deadline, [&] { return !items_.empty() || running_ == 0; });
        if (items_.empty()) return std::nullopt;
        Item item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    void started() {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    void ended() {
        std::lock_guard lock(mutex_);
        --running_;
        wake_.notify_all();
    }
    void cancel() {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> items_;
    std::set<std::string> claimed_;
    int running_ = 0;
    bool cancelled_ = false;
};

// One part's report: its entries carry how they were found.
class Part final : public lib::FindReport {
public:
    Part(Queue& queue, std::string how) : queue_(queue), how_(std::move(how)) {}
    void found(const lib::FoundEntry& entry) override {
        queue_.push(Found{static_cast<Found::Kind>(entry.kind), entry.resource, entry.identity, how_});
    }
    void note(const std::string& text) override { queue_.push(text); }
    void addWork(int) override {}
    void workDone(int) override {}
    bool claim(const std::string& resource) override { return queue_.claim(resource); }
    [[nodiscard]] bool cancelled() const override { return queue_.cancelled(); }

private:
    Queue& queue_;
    std::string how_;
};

lib::FindPlan planFor(const FindOptions& options) {
    lib::FindPlan plan;
    plan.gpibBoard = options.gpibBoard;
    plan.probeSerialPorts = options.probeSerial;
    plan.serial = options.serialSettings;
    if (options.serial || options.probeSerial) plan.serialPorts = lib::systemSerialPorts();
    return plan;
}

}  // namespace

void find(const FindOptions& options, const std::function<void(const Found&)>& onFound,
          const std::function<void(const std::string&)>& onNote) {
    const auto deadline = Clock::now() + options.timeout;
    const lib::FindPlan plan = planFor(options);
    Queue queue;
    std::vector<std::jthread> parts;
    auto start = [&](std::string how, void (*part)(const lib::FindPlan&, lib::FindReport&)) {
        queue.started();
        parts.emplace_back([&queue, &plan, part, how = std::move(how)] {
            Part report(queue, how);
            part(plan, report);
            queue.ended();
        });
    };
    if (options.lan) start("LAN broadcast", lib::findOnLan);
    if (options.mdns) start("mDNS", lib::findByMdns);
    if (options.gpibBoard) start("GPIB" + std::to_string(*options.gpibBoard) + " listener", lib::findGpibListeners);
    if (options.serial || options.probeSerial) start("serial port", lib::findSerialPorts);
    while (auto item = queue.next(deadline)) {
        if (const auto* found = std::get_if<Found>(&*item)) {
            if (onFound) onFound(*found);
        } else if (onNote) {
            onNote(std::get<std::string>(*item));
        }
    }
    // Past the deadline nothing more is handed on; the parts still running
    // end within their own probes' time-outs as the threads are joined.
    queue.cancel();
}

}  // namespace corvalen
