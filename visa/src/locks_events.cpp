// SPDX-License-Identifier: MIT
// Locks and events. Locks are exclusive and held within this process: a
// resource locked by one session refuses the others' I/O. The library has
// no events, so enabling one is refused and disabling or discarding
// answers that there was nothing to do, as PyVISA's close() expects.
#include "objects.h"

#include <algorithm>
#include <condition_variable>
#include <map>

namespace corvalen::visa {
namespace {

struct Lock {
    ViSession owner = VI_NULL;
    int depth = 0;
};

struct LockTable {
    std::mutex mutex;
    std::condition_variable released;
    std::map<std::string, Lock> locks;  // by canonical name, upper case
};

LockTable& lockTable() {
    static auto* table = new LockTable;
    return *table;
}

std::string lockKey(const Session& session) {
    std::string key = session.resourceName;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return key;
}

bool knownEvent(ViEventType type) {
    switch (type) {
        case VI_EVENT_IO_COMPLETION:
        case VI_EVENT_TRIG:
        case VI_EVENT_SERVICE_REQ:
        case VI_EVENT_CLEAR:
        case VI_EVENT_EXCEPTION:
        case VI_EVENT_GPIB_CIC:
        case VI_EVENT_GPIB_TALK:
        case VI_EVENT_GPIB_LISTEN:
        case VI_EVENT_VXI_VME_SYSFAIL:
        case VI_EVENT_VXI_VME_SYSRESET:
        case VI_EVENT_VXI_SIGP:
        case VI_EVENT_VXI_VME_INTR:
        case VI_EVENT_PXI_INTR:
        case VI_EVENT_TCPIP_CONNECT:
        case VI_EVENT_USB_INTR: return true;
        default: return false;
    }
}

bool validMechanisms(ViUInt16 mechanism, bool allowed) {
    if (allowed && mechanism == VI_ALL_MECH) return true;
    return mechanism != 0 && (mechanism & ~(VI_QUEUE | VI_HNDLR | VI_SUSPEND_HNDLR)) == 0;
}

// The checks every event operation makes first.
ViStatus eventCheck(ViSession vi, ViEventType type, bool allEnabled) {
    if (!lookup<Session>(vi)) return VI_ERROR_INV_OBJECT;
    if (knownEvent(type) || (allEnabled && type == VI_ALL_ENABLED_EVENTS)) return VI_SUCCESS;
    return VI_ERROR_INV_EVENT;
}

}  // namespace

void releaseLocks(const Session& session) {
    LockTable& table = lockTable();
    std::lock_guard lock(table.mutex);
    std::erase_if(table.locks, [&](const auto& entry) { return entry.second.owner == session.handle; });
    table.released.notify_all();
}

ViStatus lockedByOther(const Session& session) {
    LockTable& table = lockTable();
    std::lock_guard lock(table.mutex);
    if (table.locks.empty()) return VI_SUCCESS;
    auto it = table.locks.find(lockKey(session));
    return it == table.locks.end() || it->second.owner == session.handle ? VI_SUCCESS : VI_ERROR_RSRC_LOCKED;
}

ViAccessMode lockState(const Session& session) {
    LockTable& table = lockTable();
    std::lock_guard lock(table.mutex);
    return table.locks.count(lockKey(session)) != 0 ? VI_EXCLUSIVE_LOCK : VI_NO_LOCK;
}

}  // namespace corvalen::visa

using namespace corvalen::visa;

extern "C" {

ViStatus viLock(ViSession vi, ViAccessMode lockType, ViUInt32 timeout, ViConstKeyId requestedKey,
                ViChar accessKey[]) {
    (void)requestedKey;
    if (accessKey != nullptr) accessKey[0] = '\0';
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        auto session = lookup<Session>(vi);
        if (!session) return VI_ERROR_INV_OBJECT;
        // Shared locks would need keys handed between programs: refused.
        if (lockType != VI_EXCLUSIVE_LOCK) return VI_ERROR_INV_LOCK_TYPE;
        LockTable& table = lockTable();
        const std::string key = lockKey(*session);
        std::unique_lock lock(table.mutex);
        const auto free = [&]() -> ViStatus {
            auto it = table.locks.find(key);
            return it == table.locks.end() || it->second.owner == vi;
        };
        const auto wait = std::chrono::milliseconds(std::min<ViUInt32>(timeout, 0x7FFFFFFF));
        if (!table.released.wait_for(lock, wait, free)) return VI_ERROR_TMO;
        Lock& held = table.locks[key];
        held.owner = vi;
        return ++held.depth > 1 ? VI_SUCCESS_NESTED_EXCLUSIVE : VI_SUCCESS;
    });
}

ViStatus viUnlock(ViSession vi) {
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        auto session = lookup<Session>(vi);
        if (!session) return VI_ERROR_INV_OBJECT;
        LockTable& table = lockTable();
        std::lock_guard lock(table.mutex);
        auto it = table.locks.find(lockKey(*session));
        if (it == table.locks.end() || it->second.owner != vi) return VI_ERROR_SESN_NLOCKED;
        if (--it->second.depth > 0) return VI_SUCCESS_NESTED_EXCLUSIVE;
        table.locks.erase(it);
        table.released.notify_all();
        return VI_SUCCESS;
    });
}

ViStatus viEnableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism, ViEventFilter context) {
    (void)context;
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (ViStatus status = eventCheck(vi, eventType, false); status != VI_SUCCESS) return status;
        if (!validMechanisms(mechanism, false)) return VI_ERROR_INV_MECH;
        return VI_ERROR_INV_EVENT;  // no resource here raises events
    });
}

ViStatus viDisableEvent(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (ViStatus status = eventCheck(vi, eventType, true); status != VI_SUCCESS) return status;
        if (!validMechanisms(mechanism, true)) return VI_ERROR_INV_MECH;
        return VI_SUCCESS_EVENT_DIS;
    });
}

ViStatus viDiscardEvents(ViSession vi, ViEventType eventType, ViUInt16 mechanism) {
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (ViStatus status = eventCheck(vi, eventType, true); status != VI_SUCCESS) return status;
        if (!validMechanisms(mechanism, true)) return VI_ERROR_INV_MECH;
        return VI_SUCCESS_QUEUE_EMPTY;
    });
}

ViStatus viWaitOnEvent(ViSession vi, ViEventType inEventType, ViUInt32 timeout, ViPEventType outEventType,
                       ViPEvent outContext) {
    (void)timeout;
    if (outEventType != nullptr) *outEventType = 0;
    if (outContext != nullptr) *outContext = VI_NULL;
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (ViStatus status = eventCheck(vi, inEventType, true); status != VI_SUCCESS) return status;
        return VI_ERROR_NENABLED;
    });
}

ViStatus viInstallHandler(ViSession vi, ViEventType eventType, ViHndlr handler, ViAddr userHandle) {
    (void)userHandle;
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (ViStatus status = eventCheck(vi, eventType, false); status != VI_SUCCESS) return status;
        return handler == nullptr ? VI_ERROR_INV_HNDLR_REF : VI_ERROR_INV_EVENT;
    });
}

ViStatus viUninstallHandler(ViSession vi, ViEventType eventType, ViHndlr handler, ViAddr userHandle) {
    (void)handler;
    (void)userHandle;
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        if (ViStatus status = eventCheck(vi, eventType, true); status != VI_SUCCESS) return status;
        return VI_ERROR_HNDLR_NINSTALLED;
    });
}

}  // extern "C"
