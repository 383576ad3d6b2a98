// SPDX-License-Identifier: MIT
// The resource manager: handles, parsing resource names and opening
// sessions through the library's one resolution (aliases, board bindings).
#include "objects.h"

#include <algorithm>
#include <cstring>

namespace corvalen::visa {

Registry& Registry::instance() {
    // Never destroyed: a program may call viClose from an atexit handler
    // after static destructors have run.
    static auto* registry = new Registry;
    return *registry;
}

ViObject Registry::add(std::shared_ptr<Object> object) {
    std::lock_guard lock(mutex_);
    object->handle = nextHandle_++;
    if (nextHandle_ == VI_NULL) nextHandle_ = 0x1000;
    objects_.push_back(std::move(object));
    return objects_.back()->handle;
}

std::shared_ptr<Object> Registry::find(ViObject handle) const {
    std::lock_guard lock(mutex_);
    for (const auto& object : objects_) {
        if (object->handle == handle) return object;
    }
    return nullptr;
}

std::vector<std::shared_ptr<Object>> Registry::remove(ViObject handle) {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Object>> removed;
    auto it = std::find_if(objects_.begin(), objects_.end(), [&](const auto& o) { return o->handle == handle; });
    if (it == objects_.end()) return removed;
    const bool manager = (*it)->kind == Kind::Manager;
    removed.push_back(*it);
    objects_.erase(it);
    if (manager) {
        auto owned = std::stable_partition(objects_.begin(), objects_.end(),
                                           [&](const auto& o) { return o->manager != handle; });
        removed.insert(removed.end(), owned, objects_.end());
        objects_.erase(owned, objects_.end());
    }
    return removed;
}

void copyOut(const std::string& text, ViChar* out, std::size_t size) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

ViUInt16 interfaceCode(const std::string& type) {
    if (type == "GPIB") return VI_INTF_GPIB;
    if (type == "ASRL") return VI_INTF_ASRL;
    if (type == "TCPIP") return VI_INTF_TCPIP;
    if (type == "USB") return VI_INTF_USB;
    return 0;
}

// PyVISA 1.11 writes "GPIB0::9::0::INSTR" for an instrument without a
// secondary address: 0 there means none.
std::string withoutSecondaryZero(const ResourceInfo& info, const std::string& name) {
    if (info.interfaceType != "GPIB" || info.resourceClass != "INSTR" || info.secondaryAddress != 0) return name;
    return "GPIB" + std::to_string(info.interfaceNumber) + "::" + std::to_string(info.primaryAddress) + "::INSTR";
}

struct Parsed {
    ResourceInfo info;
    std::string alias;  // the name when it was an alias
    std::string resource;
};

// Raises IoError when name is neither an alias nor a resource string.
Parsed parseName(const std::string& name) {
    Parsed parsed;
    parsed.resource = name;
    if (std::string target = aliasTarget(name); !target.empty()) {
        parsed.alias = name;
        parsed.resource = target;
    }
    parsed.info = parseResource(parsed.resource);
    if (std::string plain = withoutSecondaryZero(parsed.info, parsed.resource); plain != parsed.resource) {
        parsed.resource = plain;
        parsed.info = parseResource(plain);
    }
    return parsed;
}

std::chrono::milliseconds sessionTimeout(ViUInt32 timeout) {
    // VI_TMO_IMMEDIATE still lets a reply already under way arrive; the
    // longest wait the library's poll loops take is INT32_MAX ms.
    if (timeout == 0) return std::chrono::milliseconds(1);
    return std::chrono::milliseconds(std::min<ViUInt32>(timeout, 0x7FFFFFFF));
}

}  // namespace

std::string aliasTarget(const std::string& name) {
    for (const AliasEntry& entry : aliases().entries) {
        if (sameIgnoringCase(entry.name, name)) return entry.resource;
    }
    return {};
}

void applyTimeout(Session& session, ViUInt32 timeout) {
    session.timeout = timeout;
    session.options.timeout = sessionTimeout(timeout);
    if (session.instrument.isOpen()) session.instrument.setTimeout(session.options.timeout);
}

}  // namespace corvalen::visa

using namespace corvalen::visa;

extern "C" {

ViStatus viOpenDefaultRM(ViPSession vi) {
    if (vi == nullptr) return VI_ERROR_INV_PARAMETER;
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        *vi = Registry::instance().add(std::make_shared<Manager>());
        return VI_SUCCESS;
    });
}

ViStatus viParseRsrcEx(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum,
                       ViChar rsrcClass[], ViChar expandedUnaliasedName[], ViChar aliasIfExists[]) {
    if (!lookup<Manager>(rmSesn)) return VI_ERROR_INV_OBJECT;
    if (rsrcName == nullptr) return VI_ERROR_INV_RSRC_NAME;
    return guarded(VI_ERROR_INV_RSRC_NAME, [&]() -> ViStatus {
        const Parsed parsed = parseName(rsrcName);
        if (intfType != nullptr) *intfType = interfaceCode(parsed.info.interfaceType);
        if (intfNum != nullptr) *intfNum = static_cast<ViUInt16>(parsed.info.interfaceNumber);
        if (rsrcClass != nullptr) copyOut(parsed.info.resourceClass, rsrcClass);
        if (expandedUnaliasedName != nullptr) copyOut(parsed.info.canonical, expandedUnaliasedName);
        if (aliasIfExists != nullptr) copyOut(parsed.alias, aliasIfExists);
        return VI_SUCCESS;
    });
}

ViStatus viParseRsrc(ViSession rmSesn, ViConstRsrc rsrcName, ViPUInt16 intfType, ViPUInt16 intfNum) {
    return viParseRsrcEx(rmSesn, rsrcName, intfType, intfNum, nullptr, nullptr, nullptr);
}

ViStatus viOpen(ViSession sesn, ViConstRsrc name, ViAccessMode mode, ViUInt32 timeout, ViPSession vi) {
    if (vi != nullptr) *vi = VI_NULL;
    if (!lookup<Manager>(sesn)) return VI_ERROR_INV_OBJECT;
    if (name == nullptr) return VI_ERROR_INV_RSRC_NAME;
    if (vi == nullptr) return VI_ERROR_INV_PARAMETER;
    if ((mode & ~static_cast<ViAccessMode>(VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK | VI_LOAD_CONFIG)) != 0 ||
        (mode & (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK)) == (VI_EXCLUSIVE_LOCK | VI_SHARED_LOCK)) {
        return VI_ERROR_INV_ACC_MODE;
    }
    auto session = std::make_shared<Session>();
    ViStatus parsed = guarded(VI_ERROR_INV_RSRC_NAME, [&]() -> ViStatus {
        const Parsed resource = parseName(name);
        session->requested = name;
        session->info = resource.info;
        session->resourceName = resource.info.canonical;
        return VI_SUCCESS;
    });
    if (parsed != VI_SUCCESS) return parsed;
    applyTimeout(*session, session->timeout);
    ViStatus opened = guarded(VI_ERROR_RSRC_NFOUND, [&]() -> ViStatus {
        // The name as given, so that the route names the alias; open()
        // applies aliases and board bindings itself.
        const bool alias = !aliasTarget(session->requested).empty();
        session->openedAs = alias ? session->requested : session->resourceName;
        session->instrument = corvalen::open(session->openedAs, session->options);
        return VI_SUCCESS;
    });
    if (opened != VI_SUCCESS) return opened;
    session->manager = sesn;
    ViStatus added = guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        *vi = Registry::instance().add(session);
        return VI_SUCCESS;
    });
    if (added != VI_SUCCESS) return added;
    if ((mode & VI_EXCLUSIVE_LOCK) != 0 || (mode & VI_SHARED_LOCK) != 0) {
        const ViAccessMode lock = (mode & VI_EXCLUSIVE_LOCK) != 0 ? VI_EXCLUSIVE_LOCK : VI_SHARED_LOCK;
        ViStatus locked = viLock(*vi, lock, timeout, nullptr, nullptr);
        if (locked < VI_SUCCESS) {
            viClose(*vi);
            *vi = VI_NULL;
            return locked;
        }
    }
    return VI_SUCCESS;
}

ViStatus viClose(ViObject vi) {
    if (vi == VI_NULL) return VI_WARN_NULL_OBJECT;
    return guarded(VI_ERROR_CLOSING_FAILED, [&]() -> ViStatus {
        auto removed = Registry::instance().remove(vi);
        if (removed.empty()) return VI_ERROR_INV_OBJECT;
        for (const auto& object : removed) {
            if (object->kind != Kind::Session) continue;
            auto& session = static_cast<Session&>(*object);
            std::lock_guard lock(session.mutex);
            releaseLocks(session);
            session.instrument.close();
        }
        return VI_SUCCESS;
    });
}

}  // extern "C"
