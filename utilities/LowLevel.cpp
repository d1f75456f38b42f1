#include "utilities/LowLevel.h"

#include "platform/coreservices/CoreServices.h"
#include "platform/mach/Mach.h"

// Taking the address makes the library carry an out-of-line myMemCpy.
extern void (*const gMyMemCpyOutOfLine)(void*, const void*, UInt32);
void (*const gMyMemCpyOutOfLine)(void*, const void*, UInt32) = &myMemCpy;

SInt32 myAbsU32(SInt32 value) {
  if (value >= 0) return value;
  // Two's complement without signed overflow: the most negative value stays.
  return SInt32((UInt32(value) ^ 0xFFFFFFFFu) + 1u);
}

SInt32 myTruncateU16(SInt32 value) {
  if (value < 0) return 0;
  if (value > 65535) return 65535;
  return value;
}

UInt8 myIsBuffer16ByteAligned(const void* p) {
  return (reinterpret_cast<uintptr_t>(p) & 0xF) == 0 ? 1 : 0;
}

UInt32 mySkyloomPrefetch(UInt32 blockSize, SInt32 blockCount, UInt32 blockStride) {
  return ((blockSize & 0x1Fu) << 24) | ((UInt32(blockCount) & 0xFFu) << 16) |
         (blockStride & 0xFFFFu);
}

OSStatus mySkyloomCheckForSIMD(UInt8* hasVector, UInt8* isG5) {
  *hasVector = 0;
  *isG5 = 0;
  SInt32 features = 0;
  OSErr err = Gestalt(FOUR_CHAR_CODE("ppcf"), &features);
  if (err != noErr) return err;
  if ((features & 0x10) == 0) return noErr;
  *hasVector = 1;
  host_basic_info info{};
  mach_msg_type_number_t count = HOST_BASIC_INFO_COUNT;
  kern_return_t kr = host_info(mach_host_self(), HOST_BASIC_INFO,
                               reinterpret_cast<host_info_t>(&info), &count);
  if (info.cpu_type == CPU_TYPE_POWERPC && info.cpu_subtype == CPU_SUBTYPE_POWERPC_970) *isG5 = 1;
  return kr;
}
