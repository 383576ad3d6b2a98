/* SPDX-License-Identifier: MIT */
/* The VISA data types, as the VPP-4.3.3 and VPP-4.3.2 specifications give
 * them for a 64-bit Linux (LP64) and a 32-bit one. Written for
 * libcorvalen-visa; a program includes it through <visa.h>. */
#ifndef CORVALEN_VISATYPE_H
#define CORVALEN_VISATYPE_H

#define _VI_FAR
/* The library exports these and nothing else; harmless in a program. */
#if defined(__GNUC__)
#define _VI_FUNC __attribute__((visibility("default")))
#define _VI_FUNCC __attribute__((visibility("default")))
#else
#define _VI_FUNC
#define _VI_FUNCC
#endif
#define _VI_FUNCH
#define _VI_SIGNED signed
#define _VI_ERROR (-2147483647L - 1)
#define _VI_PTR *

#if defined(__LP64__) || defined(_LP64)
#define _VI_INT64_UINT64_DEFINED
#endif

/* Fixed widths: ViUInt32 is 32 bits on LP64 as on ILP32. */
typedef unsigned long long ViUInt64;
typedef _VI_SIGNED long long ViInt64;
typedef ViUInt64 _VI_PTR ViPUInt64;
typedef ViUInt64 _VI_PTR ViAUInt64;
typedef ViInt64 _VI_PTR ViPInt64;
typedef ViInt64 _VI_PTR ViAInt64;

typedef unsigned int ViUInt32;
typedef _VI_SIGNED int ViInt32;
typedef ViUInt32 _VI_PTR ViPUInt32;
typedef ViUInt32 _VI_PTR ViAUInt32;
typedef ViInt32 _VI_PTR ViPInt32;
typedef ViInt32 _VI_PTR ViAInt32;

typedef unsigned short ViUInt16;
typedef _VI_SIGNED short ViInt16;
typedef ViUInt16 _VI_PTR ViPUInt16;
typedef ViUInt16 _VI_PTR ViAUInt16;
typedef ViInt16 _VI_PTR ViPInt16;
typedef ViInt16 _VI_PTR ViAInt16;

typedef unsigned char ViUInt8;
typedef _VI_SIGNED char ViInt8;
typedef ViUInt8 _VI_PTR ViPUInt8;
typedef ViUInt8 _VI_PTR ViAUInt8;
typedef ViInt8 _VI_PTR ViPInt8;
typedef ViInt8 _VI_PTR ViAInt8;

typedef char ViChar;
typedef ViChar _VI_PTR ViPChar;
typedef ViChar _VI_PTR ViAChar;

typedef unsigned char ViByte;
typedef ViByte _VI_PTR ViPByte;
typedef ViByte _VI_PTR ViAByte;

typedef void _VI_PTR ViAddr;
typedef ViAddr _VI_PTR ViPAddr;
typedef ViAddr _VI_PTR ViAAddr;

typedef float ViReal32;
typedef ViReal32 _VI_PTR ViPReal32;
typedef ViReal32 _VI_PTR ViAReal32;

typedef double ViReal64;
typedef ViReal64 _VI_PTR ViPReal64;
typedef ViReal64 _VI_PTR ViAReal64;

typedef ViPByte ViBuf;
typedef const ViByte _VI_PTR ViConstBuf;
typedef ViPByte ViPBuf;
typedef ViPByte _VI_PTR ViABuf;

typedef ViPChar ViString;
typedef const ViChar _VI_PTR ViConstString;
typedef ViPChar ViPString;
typedef ViPChar _VI_PTR ViAString;

typedef ViString ViRsrc;
typedef ViConstString ViConstRsrc;
typedef ViString ViPRsrc;
typedef ViString _VI_PTR ViARsrc;

typedef ViUInt16 ViBoolean;
typedef ViBoolean _VI_PTR ViPBoolean;
typedef ViBoolean _VI_PTR ViABoolean;

typedef ViInt32 ViStatus;
typedef ViStatus _VI_PTR ViPStatus;
typedef ViStatus _VI_PTR ViAStatus;

typedef ViUInt32 ViVersion;
typedef ViVersion _VI_PTR ViPVersion;
typedef ViVersion _VI_PTR ViAVersion;

typedef ViUInt32 ViObject;
typedef ViObject _VI_PTR ViPObject;
typedef ViObject _VI_PTR ViAObject;

typedef ViObject ViSession;
typedef ViSession _VI_PTR ViPSession;
typedef ViSession _VI_PTR ViASession;

typedef ViUInt32 ViAttr;
typedef const ViChar _VI_PTR ViConstKeyId;

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0

#define VI_SUCCESS 0L

#endif
