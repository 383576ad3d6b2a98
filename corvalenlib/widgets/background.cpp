// SPDX-License-Identifier: MIT
#include "corvalenlib/widgets/background.h"

#include <QRunnable>
#include <QThreadPool>

namespace CorvalenLib {
namespace {

// A whole GPIB board or a LAN full of responders may be waited on at once;
// the threads mostly sleep in poll().
constexpr int kMaxThreads = 64;

QThreadPool& pool() {
    static QThreadPool instance;
    static const bool configured = [] {
        instance.setMaxThreadCount(kMaxThreads);
        return true;
    }();
    (void)configured;
    return instance;
}

}  // namespace

void runInBackground(std::function<void()> work) {
    pool().start(QRunnable::create(std::move(work)));
}

void Mailbox::post(std::function<void()> deliver) {
    std::lock_guard lock(mutex_);
    if (closed_.load()) return;
    // The delivery checks again: close() may come between posting and running.
    QMetaObject::invokeMethod(
        receiver_,
        [self = shared_from_this(), deliver = std::move(deliver)] {
            if (!self->closed()) deliver();
        },
        Qt::QueuedConnection);
}

void Mailbox::close() {
    std::lock_guard lock(mutex_);
    closed_.store(true);
}

}  // namespace CorvalenLib
