// SPDX-License-Identifier: MIT
// What a VISA handle stands for: a resource manager, an instrument session
// or a find list, kept in one table so that a handle that was never given
// out, or was closed, is refused with a status instead of followed.
#pragma once

#include <visa.h>

#include <corvalen/corvalen.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvalen::visa {

enum class Kind { Manager, Session, FindList };

struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const Kind kind;
    ViSession manager = VI_NULL;  // the resource manager it was opened from
    ViObject handle = VI_NULL;
    std::atomic<ViUInt64> userData{0};
};

struct Manager final : Object {
    Manager() : Object(Kind::Manager) {}
};

struct FindList final : Object {
    FindList() : Object(Kind::FindList) {}
    std::mutex mutex;
    std::vector<std::string> names;
    std::size_t next = 0;
};

// One open instrument with the attributes VISA keeps beside it. Every
// operation holds mutex, so that two threads on one session take turns.
struct Session final : Object {
    Session() : Object(Kind::Session) {}

    std::mutex mutex;
    Instrument instrument;
    ResourceInfo info;         // the resource as it was opened (alias resolved)
    std::string requested;     // the name as given to viOpen
    std::string resourceName;  // the canonical name
    std::string openedAs;      // what was handed to open(): the alias, or the canonical name
    OpenOptions options;

    // The rest of a reply that did not fit the caller's buffer, for the
    // next viRead or viScanf.
    std::string pending;
    std::size_t pendingAt = 0;
    // viPrintf's output, sent when it ends a message (a line end).
    std::string writeBuffer;

    ViUInt32 timeout = 2000;  // as set, VI_TMO_INFINITE included
    ViUInt8 termchar = '\n';
    bool termcharEnabled = false;
    bool sendEnd = true;
    bool suppressEnd = false;
    ViUInt16 readBufferMode = VI_FLUSH_DISABLE;
    ViUInt16 writeBufferMode = VI_FLUSH_WHEN_FULL;
    ViUInt16 ioProtocol = VI_PROT_NORMAL;

    [[nodiscard]] std::size_t pendingSize() const { return pending.size() - pendingAt; }
    void dropPending() {
        pending.clear();
        pendingAt = 0;
    }
};

// The table of every handle given out. Handles are never reused within a
// process, so that a stale one is refused rather than taken for another.
class Registry {
public:
    static Registry& instance();

    ViObject add(std::shared_ptr<Object> object);
    [[nodiscard]] std::shared_ptr<Object> find(ViObject handle) const;
    // Removes handle; for a resource manager also everything opened from it.
    // Returns what was removed, so that the caller closes it outside the lock.
    std::vector<std::shared_ptr<Object>> remove(ViObject handle);

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Object>> objects_;
    ViObject nextHandle_ = 0x1000;
};

template <class T>
std::shared_ptr<T> lookup(ViObject handle) {
    auto object = Registry::instance().find(handle);
    if (!object) return nullptr;
    if constexpr (std::is_same_v<T, Session>) {
        if (object->kind != Kind::Session) return nullptr;
    } else if constexpr (std::is_same_v<T, Manager>) {
        if (object->kind != Kind::Manager) return nullptr;
    } else if constexpr (std::is_same_v<T, FindList>) {
        if (object->kind != Kind::FindList) return nullptr;
    }
    return std::static_pointer_cast<T>(object);
}

// Releases the locks session holds.
void releaseLocks(const Session& session);
// VI_ERROR_RSRC_LOCKED when another session holds the resource's lock.
[[nodiscard]] ViStatus lockedByOther(const Session& session);
// VI_EXCLUSIVE_LOCK when any session holds the resource's lock, else VI_NO_LOCK.
[[nodiscard]] ViAccessMode lockState(const Session& session);

// Runs call, turning whatever it throws into the status VISA gives for it,
// so that no exception crosses into the caller's C code.
template <class Call>
ViStatus guarded(ViStatus ioFailure, Call&& call) noexcept {
    try {
        return static_cast<ViStatus>(call());
    } catch (const TimeoutError&) {
        return VI_ERROR_TMO;
    } catch (const IoError&) {
        return ioFailure;
    } catch (const std::bad_alloc&) {
        return VI_ERROR_ALLOC;
    } catch (...) {
        return VI_ERROR_SYSTEM_ERROR;
    }
}

// Runs call on the open session vi while holding its mutex; refuses a
// handle that is no session, a closed one and a resource another session
// has locked.
template <class Call>
ViStatus withSession(ViSession vi, Call&& call) noexcept {
    return guarded(VI_ERROR_IO, [&]() -> ViStatus {
        auto session = lookup<Session>(vi);
        if (!session) return VI_ERROR_INV_OBJECT;
        std::lock_guard lock(session->mutex);
        if (!session->instrument.isOpen()) return VI_ERROR_INV_OBJECT;
        if (ViStatus locked = lockedByOther(*session); locked != VI_SUCCESS) return locked;
        return call(*session);
    });
}

// Sends the formatted-output buffer when it ends a message (a line end),
// when the buffer mode asks for it, or when force.
void flushWriteBuffer(Session& session, bool force);
// Fills the pending reply from the instrument when it is empty.
void fillPending(Session& session);

// Copies text into a caller's buffer of VI_FIND_BUFLEN bytes, cut to fit.
void copyOut(const std::string& text, ViChar* out, std::size_t size = VI_FIND_BUFLEN);

// The resource an alias stands for when name is an alias, else empty.
[[nodiscard]] std::string aliasTarget(const std::string& name);

// Sets VI_ATTR_TMO_VALUE, on the open instrument too.
void applyTimeout(Session& session, ViUInt32 timeout);


}  // namespace corvalen::visa
