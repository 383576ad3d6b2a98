// SPDX-License-Identifier: MIT
// viStatusDesc: one line of text for every completion and error code.
#include "objects.h"

#include <cstdio>

namespace {

struct Description {
    ViStatus status;
    const char* name;
    const char* text;
};

constexpr Description kDescriptions[] = {
    {VI_SUCCESS, "VI_SUCCESS", "Operation completed successfully."},
    {VI_SUCCESS_EVENT_EN, "VI_SUCCESS_EVENT_EN", "The event was already enabled for at least one mechanism."},
    {VI_SUCCESS_EVENT_DIS, "VI_SUCCESS_EVENT_DIS", "The event was already disabled for the mechanisms given."},
    {VI_SUCCESS_QUEUE_EMPTY, "VI_SUCCESS_QUEUE_EMPTY", "Operation completed successfully; the queue was already empty."},
    {VI_SUCCESS_TERM_CHAR, "VI_SUCCESS_TERM_CHAR", "The termination character was read."},
    {VI_SUCCESS_MAX_CNT, "VI_SUCCESS_MAX_CNT", "The number of bytes asked for was read; more data may follow."},
    {VI_SUCCESS_DEV_NPRESENT, "VI_SUCCESS_DEV_NPRESENT", "Session opened, but the device did not answer."},
    {VI_SUCCESS_TRIG_MAPPED, "VI_SUCCESS_TRIG_MAPPED", "The trigger lines were already mapped."},
    {VI_SUCCESS_QUEUE_NEMPTY, "VI_SUCCESS_QUEUE_NEMPTY", "Wait succeeded; more events of the type are queued."},
    {VI_SUCCESS_NCHAIN, "VI_SUCCESS_NCHAIN", "Event handled; other handlers are not to be called."},
    {VI_SUCCESS_NESTED_SHARED, "VI_SUCCESS_NESTED_SHARED", "The session now holds one more shared lock."},
    {VI_SUCCESS_NESTED_EXCLUSIVE, "VI_SUCCESS_NESTED_EXCLUSIVE", "The session now holds one more exclusive lock."},
    {VI_SUCCESS_SYNC, "VI_SUCCESS_SYNC", "The asynchronous operation completed synchronously."},
    {VI_WARN_QUEUE_OVERFLOW, "VI_WARN_QUEUE_OVERFLOW", "Events were lost: the queue was full."},
    {VI_WARN_CONFIG_NLOADED, "VI_WARN_CONFIG_NLOADED", "The configuration was not loaded."},
    {VI_WARN_NULL_OBJECT, "VI_WARN_NULL_OBJECT", "The object reference was VI_NULL."},
    {VI_WARN_NSUP_ATTR_STATE, "VI_WARN_NSUP_ATTR_STATE", "The attribute's state is not supported here, but was accepted."},
    {VI_WARN_UNKNOWN_STATUS, "VI_WARN_UNKNOWN_STATUS", "The status code is not known."},
    {VI_WARN_NSUP_BUF, "VI_WARN_NSUP_BUF", "The buffer is not supported by this resource."},
    {VI_WARN_EXT_FUNC_NIMPL, "VI_WARN_EXT_FUNC_NIMPL", "An extension function is not implemented."},
    {VI_ERROR_SYSTEM_ERROR, "VI_ERROR_SYSTEM_ERROR", "Unknown system error."},
    {VI_ERROR_INV_OBJECT, "VI_ERROR_INV_OBJECT", "The session or object reference is not valid (never opened, or closed)."},
    {VI_ERROR_RSRC_LOCKED, "VI_ERROR_RSRC_LOCKED", "Another session holds a lock on the resource."},
    {VI_ERROR_INV_EXPR, "VI_ERROR_INV_EXPR", "The search expression is not valid."},
    {VI_ERROR_RSRC_NFOUND, "VI_ERROR_RSRC_NFOUND", "The resource is not present or could not be reached."},
    {VI_ERROR_INV_RSRC_NAME, "VI_ERROR_INV_RSRC_NAME", "The resource name is not valid."},
    {VI_ERROR_INV_ACC_MODE, "VI_ERROR_INV_ACC_MODE", "The access mode is not valid."},
    {VI_ERROR_TMO, "VI_ERROR_TMO", "The time-out expired before the operation completed."},
    {VI_ERROR_CLOSING_FAILED, "VI_ERROR_CLOSING_FAILED", "The session could not be closed."},
    {VI_ERROR_INV_DEGREE, "VI_ERROR_INV_DEGREE", "The degree is not valid."},
    {VI_ERROR_INV_JOB_ID, "VI_ERROR_INV_JOB_ID", "The job identifier is not valid."},
    {VI_ERROR_NSUP_ATTR, "VI_ERROR_NSUP_ATTR", "The attribute is not supported by this resource."},
    {VI_ERROR_NSUP_ATTR_STATE, "VI_ERROR_NSUP_ATTR_STATE", "The attribute's state is not supported by this resource."},
    {VI_ERROR_ATTR_READONLY, "VI_ERROR_ATTR_READONLY", "The attribute is read-only."},
    {VI_ERROR_INV_LOCK_TYPE, "VI_ERROR_INV_LOCK_TYPE", "The type of lock is not supported by this resource."},
    {VI_ERROR_INV_ACCESS_KEY, "VI_ERROR_INV_ACCESS_KEY", "The access key is not valid."},
    {VI_ERROR_INV_EVENT, "VI_ERROR_INV_EVENT", "The event type is not supported by this resource."},
    {VI_ERROR_INV_MECH, "VI_ERROR_INV_MECH", "The event mechanism is not valid."},
    {VI_ERROR_HNDLR_NINSTALLED, "VI_ERROR_HNDLR_NINSTALLED", "No handler is installed for the event."},
    {VI_ERROR_INV_HNDLR_REF, "VI_ERROR_INV_HNDLR_REF", "The handler reference is not valid."},
    {VI_ERROR_INV_CONTEXT, "VI_ERROR_INV_CONTEXT", "The event context is not valid."},
    {VI_ERROR_QUEUE_OVERFLOW, "VI_ERROR_QUEUE_OVERFLOW", "The event queue overflowed."},
    {VI_ERROR_NENABLED, "VI_ERROR_NENABLED", "The session is not enabled for the event."},
    {VI_ERROR_ABORT, "VI_ERROR_ABORT", "The operation was aborted."},
    {VI_ERROR_RAW_WR_PROT_VIOL, "VI_ERROR_RAW_WR_PROT_VIOL", "Protocol violation while writing."},
    {VI_ERROR_RAW_RD_PROT_VIOL, "VI_ERROR_RAW_RD_PROT_VIOL", "Protocol violation while reading."},
    {VI_ERROR_OUTP_PROT_VIOL, "VI_ERROR_OUTP_PROT_VIOL", "Device reported an output protocol error."},
    {VI_ERROR_INP_PROT_VIOL, "VI_ERROR_INP_PROT_VIOL", "Device reported an input protocol error."},
    {VI_ERROR_BERR, "VI_ERROR_BERR", "Bus error."},
    {VI_ERROR_IN_PROGRESS, "VI_ERROR_IN_PROGRESS", "An operation is already in progress."},
    {VI_ERROR_INV_SETUP, "VI_ERROR_INV_SETUP", "The setup is not valid: attributes contradict each other."},
    {VI_ERROR_QUEUE_ERROR, "VI_ERROR_QUEUE_ERROR", "The event could not be queued."},
    {VI_ERROR_ALLOC, "VI_ERROR_ALLOC", "Not enough memory for the operation."},
    {VI_ERROR_INV_MASK, "VI_ERROR_INV_MASK", "The buffer mask is not valid."},
    {VI_ERROR_IO, "VI_ERROR_IO", "An I/O error occurred (the line failed or the reply was malformed)."},
    {VI_ERROR_INV_FMT, "VI_ERROR_INV_FMT", "A format specifier is not valid."},
    {VI_ERROR_NSUP_FMT, "VI_ERROR_NSUP_FMT", "A format specifier is not supported by this library."},
    {VI_ERROR_LINE_IN_USE, "VI_ERROR_LINE_IN_USE", "The trigger line is in use."},
    {VI_ERROR_NSUP_MODE, "VI_ERROR_NSUP_MODE", "The mode is not supported."},
    {VI_ERROR_SRQ_NOCCURRED, "VI_ERROR_SRQ_NOCCURRED", "No service request was received."},
    {VI_ERROR_INV_SPACE, "VI_ERROR_INV_SPACE", "The address space is not valid."},
    {VI_ERROR_INV_OFFSET, "VI_ERROR_INV_OFFSET", "The offset is not valid."},
    {VI_ERROR_INV_WIDTH, "VI_ERROR_INV_WIDTH", "The access width is not valid."},
    {VI_ERROR_NSUP_OFFSET, "VI_ERROR_NSUP_OFFSET", "The offset is not accessible."},
    {VI_ERROR_NSUP_VAR_WIDTH, "VI_ERROR_NSUP_VAR_WIDTH", "Source and destination widths differ."},
    {VI_ERROR_WINDOW_NMAPPED, "VI_ERROR_WINDOW_NMAPPED", "The session is not mapped."},
    {VI_ERROR_RESP_PENDING, "VI_ERROR_RESP_PENDING", "A previous response is still pending."},
    {VI_ERROR_NLISTENERS, "VI_ERROR_NLISTENERS", "No listeners on the bus."},
    {VI_ERROR_NCIC, "VI_ERROR_NCIC", "The interface is not controller in charge."},
    {VI_ERROR_NSYS_CNTLR, "VI_ERROR_NSYS_CNTLR", "The interface is not the system controller."},
    {VI_ERROR_NSUP_OPER, "VI_ERROR_NSUP_OPER", "The operation is not supported by this session."},
    {VI_ERROR_INTR_PENDING, "VI_ERROR_INTR_PENDING", "An interrupt is still pending."},
    {VI_ERROR_ASRL_PARITY, "VI_ERROR_ASRL_PARITY", "Parity error on the serial line."},
    {VI_ERROR_ASRL_FRAMING, "VI_ERROR_ASRL_FRAMING", "Framing error on the serial line."},
    {VI_ERROR_ASRL_OVERRUN, "VI_ERROR_ASRL_OVERRUN", "Overrun on the serial line."},
    {VI_ERROR_TRIG_NMAPPED, "VI_ERROR_TRIG_NMAPPED", "The trigger line is not mapped."},
    {VI_ERROR_NSUP_ALIGN_OFFSET, "VI_ERROR_NSUP_ALIGN_OFFSET", "The offset is not aligned."},
    {VI_ERROR_USER_BUF, "VI_ERROR_USER_BUF", "A buffer given is not valid (a null pointer)."},
    {VI_ERROR_RSRC_BUSY, "VI_ERROR_RSRC_BUSY", "The resource is busy."},
    {VI_ERROR_NSUP_WIDTH, "VI_ERROR_NSUP_WIDTH", "The width is not supported."},
    {VI_ERROR_INV_PARAMETER, "VI_ERROR_INV_PARAMETER", "A parameter is not valid."},
    {VI_ERROR_INV_PROT, "VI_ERROR_INV_PROT", "The protocol is not valid."},
    {VI_ERROR_INV_SIZE, "VI_ERROR_INV_SIZE", "The size is not valid."},
    {VI_ERROR_WINDOW_MAPPED, "VI_ERROR_WINDOW_MAPPED", "The session already has a mapped window."},
    {VI_ERROR_NIMPL_OPER, "VI_ERROR_NIMPL_OPER", "The operation is not implemented."},
    {VI_ERROR_INV_LENGTH, "VI_ERROR_INV_LENGTH", "The length is not valid."},
    {VI_ERROR_INV_MODE, "VI_ERROR_INV_MODE", "The mode is not valid."},
    {VI_ERROR_SESN_NLOCKED, "VI_ERROR_SESN_NLOCKED", "The session holds no lock on the resource."},
    {VI_ERROR_MEM_NSHARED, "VI_ERROR_MEM_NSHARED", "The device does not export shared memory."},
    {VI_ERROR_LIBRARY_NFOUND, "VI_ERROR_LIBRARY_NFOUND", "A library the operation needs was not found."},
    {VI_ERROR_NSUP_INTR, "VI_ERROR_NSUP_INTR", "The interface cannot raise an interrupt."},
    {VI_ERROR_INV_LINE, "VI_ERROR_INV_LINE", "The line parameter is not valid."},
    {VI_ERROR_FILE_ACCESS, "VI_ERROR_FILE_ACCESS", "The file could not be opened."},
    {VI_ERROR_FILE_IO, "VI_ERROR_FILE_IO", "An error occurred reading or writing the file."},
    {VI_ERROR_NSUP_LINE, "VI_ERROR_NSUP_LINE", "The trigger line is not supported."},
    {VI_ERROR_NSUP_MECH, "VI_ERROR_NSUP_MECH", "The event mechanism is not supported."},
    {VI_ERROR_INTF_NUM_NCONFIG, "VI_ERROR_INTF_NUM_NCONFIG", "The interface number is not configured."},
    {VI_ERROR_CONN_LOST, "VI_ERROR_CONN_LOST", "The connection was lost."},
    {VI_ERROR_MACHINE_NAVAIL, "VI_ERROR_MACHINE_NAVAIL", "The remote machine does not exist or is not available."},
    {VI_ERROR_NPERMISSION, "VI_ERROR_NPERMISSION", "Access to the resource or remote machine is denied."},
};

}  // namespace

extern "C" {

ViStatus viStatusDesc(ViObject vi, ViStatus status, ViChar desc[]) {
    (void)vi;  // the texts are the same for every session
    if (desc == nullptr) return VI_ERROR_USER_BUF;
    for (const Description& entry : kDescriptions) {
        if (entry.status == status) {
            std::snprintf(desc, VI_FIND_BUFLEN, "%s: %s", entry.name, entry.text);
            return VI_SUCCESS;
        }
    }
    std::snprintf(desc, VI_FIND_BUFLEN, "Unknown status code 0x%08X.", static_cast<unsigned>(status));
    return VI_WARN_UNKNOWN_STATUS;
}

}  // extern "C"
