// The selector table of the ORX_BAYER component and its entry point.
//
// Selectors are grouped by their high byte into ranges, each with a count of
// entries; the standard negative selectors form one more range indexed by
// selector + 8. An entry is a routine with its parameter layout, empty (the
// call goes to the base image decompressor), or a marker that answers at once.
#include <iterator>

#include "bayer_codec/BayerCodec.h"

namespace {

enum class EntryKind : UInt8 { kEmpty, kRoutine, kErrorMarker, kSuccessMarker };

struct DispatchEntry {
  EntryKind kind;
  ProcPtr routine;
  ProcInfoType procInfo;
};

template <class F>
DispatchEntry routine(F f, ProcInfoType procInfo) {
  return {EntryKind::kRoutine, reinterpret_cast<ProcPtr>(f), procInfo};
}
constexpr DispatchEntry kEmpty{EntryKind::kEmpty, nullptr, 0};
constexpr DispatchEntry kErrorMarker{EntryKind::kErrorMarker, nullptr, 0};

// Selectors -8 .. -1.
const DispatchEntry kNegativeRange[8] = {
    routine(Bayer_ImageCodecGetMPWorkFunction, kSkyloomProcInfoStoragePtrPtr),  // -8
    kErrorMarker,                                                                // -7 Unregister
    routine(Bayer_ImageCodecTarget, kSkyloomProcInfoStoragePtr),                 // -6
    kErrorMarker,                                                                // -5 Register
    routine(Bayer_ImageCodecVersion, kSkyloomProcInfoStorage),                   // -4
    routine(Bayer_ImageCodecCanDo, kSkyloomProcInfoStorageShort),                // -3
    routine(Bayer_ImageCodecClose, kSkyloomProcInfoStoragePtr),                  // -2
    routine(Bayer_ImageCodecOpen, kSkyloomProcInfoStoragePtr),                   // -1
};

// Selectors 0 .. 0x31: codec information and the compressor's selectors.
const DispatchEntry kRange0[50] = {
    routine(Bayer_ImageCodecGetCodecInfo, kSkyloomProcInfoStoragePtr),                        // 0
    routine(Bayer_ImageCodecGetCompressionTime, kSkyloomProcInfoStoragePtrPtrShortPtrPtrPtr),  // 1
    routine(Bayer_ImageCodecGetMaxCompressionSize, kSkyloomProcInfoStoragePtrPtrShortLongPtr), // 2
    routine(Bayer_ImageCodecPreCompress, kSkyloomProcInfoStoragePtr),                         // 3
    routine(Bayer_ImageCodecBandCompress, kSkyloomProcInfoStoragePtr),                        // 4
    kEmpty,                                                                                   // 5 PreDecompress
    kEmpty,                                                                                   // 6 BandDecompress
    kEmpty,                                                                                   // 7 Busy
    routine(Bayer_ImageCodecGetCompressedImageSize, kSkyloomProcInfoStoragePtrPtrLongPtrPtr), // 8
};

// Selectors 0x200 .. 0x209: the image sub-codec's decompression selectors.
const DispatchEntry kRange2[10] = {
    routine(Bayer_ImageCodecPreflight, kSkyloomProcInfoStoragePtr),               // 0x200
    routine(Bayer_ImageCodecInitialize, kSkyloomProcInfoStoragePtr),              // 0x201
    routine(Bayer_ImageCodecBeginBand, kSkyloomProcInfoStoragePtrPtrLong),        // 0x202
    routine(Bayer_ImageCodecDrawBand, kSkyloomProcInfoStoragePtr),                // 0x203
    routine(Bayer_ImageCodecEndBand, kSkyloomProcInfoStoragePtrShortLong),        // 0x204
    routine(Bayer_ImageCodecQueueStarting, kSkyloomProcInfoStorage),              // 0x205
    routine(Bayer_ImageCodecQueueStopping, kSkyloomProcInfoStorage),              // 0x206
    kEmpty,                                                                       // 0x207 DroppingFrame
    kEmpty,                                                                       // 0x208 ScheduleFrame
    kEmpty,                                                                       // 0x209 CancelTrigger
};

struct DispatchRange {
  const DispatchEntry* entries;
  int count;
};
// By high byte; 0x100 has no entries, and high bytes of 3 and more none either.
const DispatchRange kRanges[3] = {{kRange0, int(std::size(kRange0))}, {nullptr, 0}, {kRange2, int(std::size(kRange2))}};

// The entry of a selector, or null when the table has none.
const DispatchEntry* lookUp(SInt16 selector) {
  if (selector < 0) {
    int index = selector + 8;
    return index < 0 ? nullptr : &kNegativeRange[index];
  }
  int range = (selector >> 8) & 0xFF;
  int index = selector & 0xFF;
  if (range >= int(std::size(kRanges)) || index >= kRanges[range].count) return nullptr;
  return &kRanges[range].entries[index];
}

ComponentResult delegateCall(ComponentParameters* params, BayerCodecGlobals* glob) {
  return DelegateComponentCall(params, glob ? glob->delegate : nullptr);
}

}  // namespace

extern "C" ComponentResult Bayer_ImageCodecComponentDispatch(ComponentParameters* params, Handle storage) {
  auto* glob = reinterpret_cast<BayerCodecGlobals*>(storage);
  const DispatchEntry* e = lookUp(params->what);
  if (!e) return delegateCall(params, glob);
  switch (e->kind) {
    case EntryKind::kRoutine:
      return CallComponentFunctionWithStorageProcInfo(storage, params, e->routine, e->procInfo);
    case EntryKind::kSuccessMarker:
      return noErr;
    case EntryKind::kErrorMarker:
      return badComponentSelector;
    case EntryKind::kEmpty:
      break;
  }
  return delegateCall(params, glob);
}

extern "C" ComponentResult Bayer_ImageCodecCanDo(BayerCodecGlobals* storage, SInt16 ftnNumber) {
  const DispatchEntry* e = lookUp(ftnNumber);
  if (e && (e->kind == EntryKind::kRoutine || e->kind == EntryKind::kSuccessMarker)) return 1;
  if (storage && storage->delegate) return CallComponentCanDo(storage->delegate, ftnNumber);
  return 0;
}
