// SPDX-License-Identifier: MIT
// viGetAttribute and viSetAttribute: each attribute writes exactly its own
// width, as VISA types it; the rest are VI_ERROR_NSUP_ATTR.
#include "objects.h"

#include <cstring>

#ifndef CORVALEN_VISA_VERSION
#define CORVALEN_VISA_VERSION "0.0.0"
#endif

namespace corvalen::visa {
namespace {

template <class T>
ViStatus put(void* out, T value) {
    std::memcpy(out, &value, sizeof value);
    return VI_SUCCESS;
}

ViStatus putText(void* out, const std::string& text) {
    copyOut(text, static_cast<ViChar*>(out));
    return VI_SUCCESS;
}

// "0.3.0" as a ViVersion: major in the top 12 bits, minor in the next 12.
ViVersion implementationVersion() {
    unsigned major = 0, minor = 0, sub = 0;
    std::sscanf(CORVALEN_VISA_VERSION, "%u.%u.%u", &major, &minor, &sub);
    return static_cast<ViVersion>((major & 0xFFFu) << 20 | (minor & 0xFFFu) << 8 | (sub & 0xFFu));
}

ViStatus getCommon(const Object& object, ViAttr attribute, void* out) {
    switch (attribute) {
        case VI_ATTR_RSRC_MANF_NAME: return putText(out, "corvalen");
        case VI_ATTR_RSRC_MANF_ID: return put<ViUInt16>(out, 0);
        case VI_ATTR_RSRC_IMPL_VERSION: return put<ViVersion>(out, implementationVersion());
        case VI_ATTR_RSRC_SPEC_VERSION: return put<ViVersion>(out, VI_SPEC_VERSION);
        case VI_ATTR_USER_DATA_64: return put<ViUInt64>(out, object.userData);
        case VI_ATTR_USER_DATA_32: return put<ViUInt32>(out, static_cast<ViUInt32>(object.userData));
        case VI_ATTR_MAX_QUEUE_LENGTH: return put<ViUInt32>(out, 50);
        case VI_ATTR_RM_SESSION:
            return put<ViSession>(out, object.kind == Kind::Manager ? object.handle : object.manager);
        default: return VI_ERROR_NSUP_ATTR;
    }
}

ViUInt16 parityCode(Parity parity) {
    switch (parity) {
        case Parity::Odd: return VI_ASRL_PAR_ODD;
        case Parity::Even: return VI_ASRL_PAR_EVEN;
        case Parity::None: break;
    }
    return VI_ASRL_PAR_NONE;
}

ViUInt16 flowCode(FlowControl flow) {
    switch (flow) {
        case FlowControl::XonXoff: return VI_ASRL_FLOW_XON_XOFF;
        case FlowControl::RtsCts: return VI_ASRL_FLOW_RTS_CTS;
        case FlowControl::None: break;
    }
    return VI_ASRL_FLOW_NONE;
}

ViStatus getInterfaceSpecific(const Session& session, ViAttr attribute, void* out) {
    const ResourceInfo& info = session.info;
    const SerialSettings& serial = session.options.serial;
    if (info.interfaceType == "TCPIP") {
        switch (attribute) {
            case VI_ATTR_TCPIP_ADDR:
            case VI_ATTR_TCPIP_HOSTNAME: return putText(out, info.host);
            case VI_ATTR_TCPIP_PORT:
                if (info.resourceClass == "SOCKET") return put<ViUInt16>(out, info.port);
                break;
            case VI_ATTR_TCPIP_DEVICE_NAME:
                if (info.resourceClass == "INSTR") return putText(out, info.device);
                break;
            default: break;
        }
    } else if (info.interfaceType == "GPIB") {
        switch (attribute) {
            case VI_ATTR_GPIB_PRIMARY_ADDR: return put<ViUInt16>(out, static_cast<ViUInt16>(info.primaryAddress));
            case VI_ATTR_GPIB_SECONDARY_ADDR:
                return put<ViUInt16>(out, info.secondaryAddress < 0 ? ViUInt16{VI_NO_SEC_ADDR}
                                                                    : static_cast<ViUInt16>(info.secondaryAddress));
            default: break;
        }
    } else if (info.interfaceType == "ASRL") {
        switch (attribute) {
            case VI_ATTR_ASRL_BAUD: return put<ViUInt32>(out, static_cast<ViUInt32>(serial.baudRate));
            case VI_ATTR_ASRL_DATA_BITS: return put<ViUInt16>(out, static_cast<ViUInt16>(serial.dataBits));
            case VI_ATTR_ASRL_PARITY: return put<ViUInt16>(out, parityCode(serial.parity));
            case VI_ATTR_ASRL_STOP_BITS:
                return put<ViUInt16>(out, serial.stopBits == 2 ? ViUInt16{VI_ASRL_STOP_TWO} : ViUInt16{VI_ASRL_STOP_ONE});
            case VI_ATTR_ASRL_FLOW_CNTRL: return put<ViUInt16>(out, flowCode(serial.flowControl));
            default: break;
        }
    }
    return VI_ERROR_NSUP_ATTR;
}

ViUInt16 interfaceCode(const std::string& type) {
    if (type == "GPIB") return VI_INTF_GPIB;
    if (type == "ASRL") return VI_INTF_ASRL;
    if (type == "TCPIP") return VI_INTF_TCPIP;
    return VI_INTF_USB;
}

ViStatus getSession(const Session& session, ViAttr attribute, void* out) {
    switch (attribute) {
        case VI_ATTR_RSRC_NAME: return putText(out, session.resourceName);
        case VI_ATTR_RSRC_CLASS: return putText(out, session.info.resourceClass);
        case VI_ATTR_RSRC_LOCK_STATE: return put<ViAccessMode>(out, lockState(session));
        case VI_ATTR_INTF_TYPE: return put<ViUInt16>(out, interfaceCode(session.info.interfaceType));
        case VI_ATTR_INTF_NUM: return put<ViUInt16>(out, static_cast<ViUInt16>(session.info.interfaceNumber));
        case VI_ATTR_TMO_VALUE: return put<ViUInt32>(out, session.timeout);
        case VI_ATTR_TERMCHAR: return put<ViUInt8>(out, session.termchar);
        case VI_ATTR_TERMCHAR_EN: return put<ViBoolean>(out, session.termcharEnabled ? VI_TRUE : VI_FALSE);
        case VI_ATTR_SEND_END_EN: return put<ViBoolean>(out, session.sendEnd ? VI_TRUE : VI_FALSE);
        case VI_ATTR_SUPPRESS_END_EN: return put<ViBoolean>(out, session.suppressEnd ? VI_TRUE : VI_FALSE);
        case VI_ATTR_RD_BUF_OPER_MODE: return put<ViUInt16>(out, session.readBufferMode);
        case VI_ATTR_WR_BUF_OPER_MODE: return put<ViUInt16>(out, session.writeBufferMode);
        case VI_ATTR_IO_PROT: return put<ViUInt16>(out, session.ioProtocol);
        default: break;
    }
    if (ViStatus status = getCommon(session, attribute, out); status != VI_ERROR_NSUP_ATTR) return status;
    return getInterfaceSpecific(session, attribute, out);
}

ViStatus setBoolean(bool& field, ViAttrState value) {
    if (value != VI_TRUE && value != VI_FALSE) return VI_ERROR_NSUP_ATTR_STATE;
    field = value == VI_TRUE;
    return VI_SUCCESS;
}

// The line settings are taken at open: a change reopens the port with them.
ViStatus setSerial(Session& session, ViAttr attribute, ViAttrState value) {
    if (session.info.interfaceType != "ASRL") return VI_ERROR_NSUP_ATTR;
    SerialSettings serial = session.options.serial;
    switch (attribute) {
        case VI_ATTR_ASRL_BAUD:
            if (value == 0 || value > 4'000'000) return VI_ERROR_NSUP_ATTR_STATE;
            serial.baudRate = static_cast<int>(value);
            break;
        case VI_ATTR_ASRL_DATA_BITS:
            if (value < 5 || value > 8) return VI_ERROR_NSUP_ATTR_STATE;
            serial.dataBits = static_cast<int>(value);
            break;
        case VI_ATTR_ASRL_PARITY:
            if (value == VI_ASRL_PAR_NONE) serial.parity = Parity::None;
            else if (value == VI_ASRL_PAR_ODD) serial.parity = Parity::Odd;
            else if (value == VI_ASRL_PAR_EVEN) serial.parity = Parity::Even;
            else return VI_ERROR_NSUP_ATTR_STATE;
            break;
        case VI_ATTR_ASRL_STOP_BITS:
            if (value == VI_ASRL_STOP_ONE) serial.stopBits = 1;
            else if (value == VI_ASRL_STOP_TWO) serial.stopBits = 2;
            else return VI_ERROR_NSUP_ATTR_STATE;
            break;
        case VI_ATTR_ASRL_FLOW_CNTRL:
            if (value == VI_ASRL_FLOW_NONE) serial.flowControl = FlowControl::None;
            else if (value == VI_ASRL_FLOW_XON_XOFF) serial.flowControl = FlowControl::XonXoff;
            else if (value == VI_ASRL_FLOW_RTS_CTS) serial.flowControl = FlowControl::RtsCts;
            else return VI_ERROR_NSUP_ATTR_STATE;
            break;
        default: return VI_ERROR_NSUP_ATTR;
    }
    if (serial == session.options.serial) return VI_SUCCESS;
    OpenOptions options = session.options;
    options.serial = serial;
    session.instrument.close();
    session.dropPending();
    session.instrument = corvalen::open(session.openedAs, options);
    session.options = options;
    return VI_SUCCESS;
}

ViStatus setSession(Session& session, ViAttr attribute, ViAttrState value) {
    switch (attribute) {
        case VI_ATTR_TMO_VALUE:
            applyTimeout(session, static_cast<ViUInt32>(value));
            return VI_SUCCESS;
        case VI_ATTR_TERMCHAR:
            if (value > 0xFF) return VI_ERROR_NSUP_ATTR_STATE;
            session.termchar = static_cast<ViUInt8>(value);
            return VI_SUCCESS;
        case VI_ATTR_TERMCHAR_EN: return setBoolean(session.termcharEnabled, value);
        case VI_ATTR_SEND_END_EN: return setBoolean(session.sendEnd, value);
        case VI_ATTR_SUPPRESS_END_EN: return setBoolean(session.suppressEnd, value);
        case VI_ATTR_RD_BUF_OPER_MODE:
            if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_DISABLE) return VI_ERROR_NSUP_ATTR_STATE;
            session.readBufferMode = static_cast<ViUInt16>(value);
            return VI_SUCCESS;
        case VI_ATTR_WR_BUF_OPER_MODE:
            if (value != VI_FLUSH_ON_ACCESS && value != VI_FLUSH_WHEN_FULL) return VI_ERROR_NSUP_ATTR_STATE;
            session.writeBufferMode = static_cast<ViUInt16>(value);
            return VI_SUCCESS;
        case VI_ATTR_IO_PROT:
            if (value != VI_PROT_NORMAL && value != VI_PROT_4882_STRS) return VI_ERROR_NSUP_ATTR_STATE;
            session.ioProtocol = static_cast<ViUInt16>(value);
            return VI_SUCCESS;
        case VI_ATTR_USER_DATA_64: session.userData = value; return VI_SUCCESS;
        case VI_ATTR_USER_DATA_32: session.userData = static_cast<ViUInt32>(value); return VI_SUCCESS;
        case VI_ATTR_ASRL_BAUD:
        case VI_ATTR_ASRL_DATA_BITS:
        case VI_ATTR_ASRL_PARITY:
        case VI_ATTR_ASRL_STOP_BITS:
        case VI_ATTR_ASRL_FLOW_CNTRL: return setSerial(session, attribute, value);
        default: break;
    }
    // Known but fixed by the resource: read-only.
    alignas(8) ViChar probe[VI_FIND_BUFLEN];
    return getSession(session, attribute, probe) == VI_SUCCESS ? VI_ERROR_ATTR_READONLY : VI_ERROR_NSUP_ATTR;
}

}  // namespace
}  // namespace corvalen::visa

using namespace corvalen::visa;

extern "C" {

ViStatus viGetAttribute(ViObject vi, ViAttr attrName, void* attrValue) {
    if (attrValue == nullptr) return VI_ERROR_USER_BUF;
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus {
        auto object = Registry::instance().find(vi);
        if (!object) return VI_ERROR_INV_OBJECT;
        if (object->kind != Kind::Session) return getCommon(*object, attrName, attrValue);
        auto& session = static_cast<Session&>(*object);
        std::lock_guard lock(session.mutex);
        return getSession(session, attrName, attrValue);
    });
}

ViStatus viSetAttribute(ViObject vi, ViAttr attrName, ViAttrState attrValue) {
    return guarded(VI_ERROR_RSRC_NFOUND, [&]() -> ViStatus {
        auto object = Registry::instance().find(vi);
        if (!object) return VI_ERROR_INV_OBJECT;
        if (object->kind != Kind::Session) {
            if (attrName == VI_ATTR_USER_DATA_64 || attrName == VI_ATTR_USER_DATA_32) {
                object->userData = attrValue;
                return VI_SUCCESS;
            }
            alignas(8) ViChar probe[VI_FIND_BUFLEN];
            return getCommon(*object, attrName, probe) == VI_SUCCESS ? VI_ERROR_ATTR_READONLY : VI_ERROR_NSUP_ATTR;
        }
        auto& session = static_cast<Session&>(*object);
        std::lock_guard lock(session.mutex);
        if (!session.instrument.isOpen()) return VI_ERROR_INV_OBJECT;
        return setSession(session, attrName, attrValue);
    });
}

}  // extern "C"
