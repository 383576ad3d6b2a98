// SPDX-License-Identifier: MIT
// Work the selection dialog hands off its own thread: probes of instruments
// block with a deadline of up to several seconds, and the dialog must keep
// repainting meanwhile. A cancelled probe is not interrupted; it ends within
// its own time-outs and its results are dropped.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace CorvalenLib {

// Runs work on a process-wide pool with room for many blocked probes at once;
// at exit the pool waits for what still runs, which is bounded by time-outs.
void runInBackground(std::function<void()> work);

// Carries results from background work to an object of the GUI thread, until
// closed: after close() nothing more is delivered. The receiver closes it
// before it is destroyed; Qt drops calls still queued for a destroyed object.
class Mailbox : public std::enable_shared_from_this<Mailbox> {
public:
    [[nodiscard]] static std::shared_ptr<Mailbox> to(QObject* receiver) {
        return std::shared_ptr<Mailbox>(new Mailbox(receiver));
    }

    // Runs deliver on the receiver's thread, unless closed by then.
    void post(std::function<void()> deliver);
    void close();
    [[nodiscard]] bool closed() const { return closed_.load(); }

private:
    explicit Mailbox(QObject* receiver) : receiver_(receiver) {}

    std::mutex mutex_;
    QObject* receiver_;
    std::atomic<bool> closed_{false};
};

}  // namespace CorvalenLib
