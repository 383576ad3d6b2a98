// SPDX-License-Identifier: MIT
// The VISA operations that no transport here has (memory
// and register access, bus control, asynchronous jobs): present, so that a
// client binding them all finds every symbol, and refusing with
// VI_ERROR_NSUP_OPER (VI_ERROR_INV_OBJECT for a handle that is no session).
#include "objects.h"

using namespace corvalen::visa;

namespace {

ViStatus notBuilt(ViObject vi) noexcept {
    return guarded(VI_ERROR_SYSTEM_ERROR, [&]() -> ViStatus { return lookup<Object>(vi) ? VI_ERROR_NSUP_OPER : VI_ERROR_INV_OBJECT; });
}

}  // namespace

#define CORVALEN_NOT_BUILT(name, ...) \
    ViStatus name(ViSession vi, __VA_ARGS__) { return notBuilt(vi); }

extern "C" {

ViStatus viTerminate(ViObject vi, ViUInt16, ViJobId) { return notBuilt(vi); }
ViStatus viReadAsync(ViSession vi, ViPBuf, ViUInt32, ViPJobId) { return notBuilt(vi); }
ViStatus viWriteAsync(ViSession vi, ViConstBuf, ViUInt32, ViPJobId) { return notBuilt(vi); }
ViStatus viReadToFile(ViSession vi, ViConstString, ViUInt32, ViPUInt32) { return notBuilt(vi); }
ViStatus viWriteFromFile(ViSession vi, ViConstString, ViUInt32, ViPUInt32) { return notBuilt(vi); }

CORVALEN_NOT_BUILT(viIn8, ViUInt16, ViBusAddress, ViPUInt8)
CORVALEN_NOT_BUILT(viOut8, ViUInt16, ViBusAddress, ViUInt8)
CORVALEN_NOT_BUILT(viIn16, ViUInt16, ViBusAddress, ViPUInt16)
CORVALEN_NOT_BUILT(viOut16, ViUInt16, ViBusAddress, ViUInt16)
CORVALEN_NOT_BUILT(viIn32, ViUInt16, ViBusAddress, ViPUInt32)
CORVALEN_NOT_BUILT(viOut32, ViUInt16, ViBusAddress, ViUInt32)
CORVALEN_NOT_BUILT(viIn64, ViUInt16, ViBusAddress, ViPUInt64)
CORVALEN_NOT_BUILT(viOut64, ViUInt16, ViBusAddress, ViUInt64)
CORVALEN_NOT_BUILT(viIn8Ex, ViUInt16, ViBusAddress64, ViPUInt8)
CORVALEN_NOT_BUILT(viOut8Ex, ViUInt16, ViBusAddress64, ViUInt8)
CORVALEN_NOT_BUILT(viIn16Ex, ViUInt16, ViBusAddress64, ViPUInt16)
CORVALEN_NOT_BUILT(viOut16Ex, ViUInt16, ViBusAddress64, ViUInt16)
CORVALEN_NOT_BUILT(viIn32Ex, ViUInt16, ViBusAddress64, ViPUInt32)
CORVALEN_NOT_BUILT(viOut32Ex, ViUInt16, ViBusAddress64, ViUInt32)
CORVALEN_NOT_BUILT(viIn64Ex, ViUInt16, ViBusAddress64, ViPUInt64)
CORVALEN_NOT_BUILT(viOut64Ex, ViUInt16, ViBusAddress64, ViUInt64)

CORVALEN_NOT_BUILT(viMoveIn8, ViUInt16, ViBusAddress, ViBusSize, ViAUInt8)
CORVALEN_NOT_BUILT(viMoveOut8, ViUInt16, ViBusAddress, ViBusSize, ViAUInt8)
CORVALEN_NOT_BUILT(viMoveIn16, ViUInt16, ViBusAddress, ViBusSize, ViAUInt16)
CORVALEN_NOT_BUILT(viMoveOut16, ViUInt16, ViBusAddress, ViBusSize, ViAUInt16)
CORVALEN_NOT_BUILT(viMoveIn32, ViUInt16, ViBusAddress, ViBusSize, ViAUInt32)
CORVALEN_NOT_BUILT(viMoveOut32, ViUInt16, ViBusAddress, ViBusSize, ViAUInt32)
CORVALEN_NOT_BUILT(viMoveIn64, ViUInt16, ViBusAddress, ViBusSize, ViAUInt64)
CORVALEN_NOT_BUILT(viMoveOut64, ViUInt16, ViBusAddress, ViBusSize, ViAUInt64)
CORVALEN_NOT_BUILT(viMoveIn8Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt8)
CORVALEN_NOT_BUILT(viMoveOut8Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt8)
CORVALEN_NOT_BUILT(viMoveIn16Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt16)
CORVALEN_NOT_BUILT(viMoveOut16Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt16)
CORVALEN_NOT_BUILT(viMoveIn32Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt32)
CORVALEN_NOT_BUILT(viMoveOut32Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt32)
CORVALEN_NOT_BUILT(viMoveIn64Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt64)
CORVALEN_NOT_BUILT(viMoveOut64Ex, ViUInt16, ViBusAddress64, ViBusSize, ViAUInt64)
CORVALEN_NOT_BUILT(viMove, ViUInt16, ViBusAddress, ViUInt16, ViUInt16, ViBusAddress, ViUInt16, ViBusSize)
CORVALEN_NOT_BUILT(viMoveAsync, ViUInt16, ViBusAddress, ViUInt16, ViUInt16, ViBusAddress, ViUInt16, ViBusSize,
                   ViPJobId)
CORVALEN_NOT_BUILT(viMoveEx, ViUInt16, ViBusAddress64, ViUInt16, ViUInt16, ViBusAddress64, ViUInt16, ViBusSize)
CORVALEN_NOT_BUILT(viMoveAsyncEx, ViUInt16, ViBusAddress64, ViUInt16, ViUInt16, ViBusAddress64, ViUInt16,
                   ViBusSize, ViPJobId)
CORVALEN_NOT_BUILT(viMapAddress, ViUInt16, ViBusAddress, ViBusSize, ViBoolean, ViAddr, ViPAddr)
CORVALEN_NOT_BUILT(viMapAddressEx, ViUInt16, ViBusAddress64, ViBusSize, ViBoolean, ViAddr, ViPAddr)
ViStatus viUnmapAddress(ViSession vi) { return notBuilt(vi); }
CORVALEN_NOT_BUILT(viMemAlloc, ViBusSize, ViPBusAddress)
CORVALEN_NOT_BUILT(viMemFree, ViBusAddress)
CORVALEN_NOT_BUILT(viMemAllocEx, ViBusSize, ViPBusAddress64)
CORVALEN_NOT_BUILT(viMemFreeEx, ViBusAddress64)

// Nothing is ever mapped, so there is no address to read: a read gives 0.
void viPeek8(ViSession, ViAddr, ViPUInt8 val8) { if (val8 != nullptr) *val8 = 0; }
void viPeek16(ViSession, ViAddr, ViPUInt16 val16) { if (val16 != nullptr) *val16 = 0; }
void viPeek32(ViSession, ViAddr, ViPUInt32 val32) { if (val32 != nullptr) *val32 = 0; }
void viPeek64(ViSession, ViAddr, ViPUInt64 val64) { if (val64 != nullptr) *val64 = 0; }
void viPoke8(ViSession, ViAddr, ViUInt8) {}
void viPoke16(ViSession, ViAddr, ViUInt16) {}
void viPoke32(ViSession, ViAddr, ViUInt32) {}
void viPoke64(ViSession, ViAddr, ViUInt64) {}

CORVALEN_NOT_BUILT(viGpibControlREN, ViUInt16)
CORVALEN_NOT_BUILT(viGpibControlATN, ViUInt16)
ViStatus viGpibSendIFC(ViSession vi) { return notBuilt(vi); }
CORVALEN_NOT_BUILT(viGpibCommand, ViConstBuf, ViUInt32, ViPUInt32)
CORVALEN_NOT_BUILT(viGpibPassControl, ViUInt16, ViUInt16)
CORVALEN_NOT_BUILT(viVxiCommandQuery, ViUInt16, ViUInt32, ViPUInt32)
CORVALEN_NOT_BUILT(viAssertUtilSignal, ViUInt16)
CORVALEN_NOT_BUILT(viAssertIntrSignal, ViInt16, ViUInt32)
CORVALEN_NOT_BUILT(viMapTrigger, ViInt16, ViInt16, ViUInt16)
CORVALEN_NOT_BUILT(viUnmapTrigger, ViInt16, ViInt16)
CORVALEN_NOT_BUILT(viUsbControlOut, ViInt16, ViInt16, ViUInt16, ViUInt16, ViUInt16, ViConstBuf)
CORVALEN_NOT_BUILT(viUsbControlIn, ViInt16, ViInt16, ViUInt16, ViUInt16, ViUInt16, ViPBuf, ViPUInt16)

}  // extern "C"
