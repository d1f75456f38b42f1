#include "media/MovieRecorder.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "camera_driver/DCAMCameraStruct.h"
#include "media/BayerDemosaic.h"
#include "media/MovieLayout.h"
#include "media/PixelFormatKernels.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/mach/Mach.h"

namespace {

MyMovieRecorderTestHooks gHooks;

// The camera's vector-unit and PowerPC 970 flags, set when it was opened.
void myRecorderCameraFlags(const MyDCAMCameraStruct* camera, UInt8* altivec, UInt8* isG5) {
  *altivec = camera->mHasVectorUnit;
  *isG5 = camera->mIsPPC970;
}

SInt32 atomicLoad(SInt32& v) { return std::atomic_ref<SInt32>(v).load(); }
void atomicStore(SInt32& v, SInt32 x) { std::atomic_ref<SInt32>(v).store(x); }

struct Locker {
  pthread_mutex_t* m;
  explicit Locker(pthread_mutex_t* mutex) : m(mutex) { pthread_mutex_lock(m); }
  ~Locker() { pthread_mutex_unlock(m); }
};

// Creates the file an FSSpec names (which must not exist) and makes its FSRef.
OSErr createFileAt(const FSSpec& location, FSRef* fileRef) {
  OSErr err = FSpCreate(&location, 0, 0, 0);
  return err == noErr ? FSpMakeFSRef(&location, fileRef) : err;
}

// ---- Byte order ----

// 16-bit samples in place, host order to big-endian (the file's order).
void samplesToBigEndian(UInt8* p, size_t samples) {
  if constexpr (std::endian::native == std::endian::little) {
    for (size_t i = 0; i < samples; ++i) {
      UInt16 v;
      std::memcpy(&v, p + 2 * i, 2);
      v = __builtin_bswap16(v);
      std::memcpy(p + 2 * i, &v, 2);
    }
  }
}

inline void putBE16(UInt8* p, UInt32 v) {
  p[0] = UInt8(v >> 8);
  p[1] = UInt8(v);
}

// ---- Pixel-format codes ----

struct NormalisedFormat {
  UInt32 storedCode;
  UInt32 bits;       // after normalisation
  UInt32 quality;    // spatial quality of the sample description
  UInt8 startRow;    // 'mm..': row 0 holds the red samples
};

// -50 for a code and bit count the recorder does not take.
OSErr normaliseFormat(UInt32 code, UInt32 bits, NormalisedFormat* out) {
  const char c0 = char(code >> 24), c1 = char(code >> 16), c2 = char(code >> 8), c3 = char(code);
  const UInt32 pair = code & 0xFFFF;
  const bool knownPair = pair == ('R' << 8 | 'G') || pair == ('G' << 8 | 'R') ||
                         pair == ('G' << 8 | 'B') || pair == ('B' << 8 | 'G');
  out->quality = codecLosslessQuality;
  out->startRow = 0;
  if (c0 == 'b' && (c1 == 'l' || c1 == 'm' || c1 == 'h') && knownPair) {
    if (bits != 8 && bits != 12 && bits != 16) return paramErr;
    switch (pair) {
      case 'R' << 8 | 'G': out->storedCode = FOUR_CHAR_CODE("RGGB"); break;
      case 'G' << 8 | 'R': out->storedCode = FOUR_CHAR_CODE("GRBG"); break;
      case 'G' << 8 | 'B': out->storedCode = FOUR_CHAR_CODE("BGGR"); break;
      default: out->storedCode = FOUR_CHAR_CODE("GBRG"); break;
    }
    out->bits = bits == 8 ? 8 : 16;
    out->quality = c1 == 'l' ? 256 : c1 == 'm' ? 768 : 1024;
    return noErr;
  }
  if (c0 == 'm' && (c1 == 'l' || c1 == 'm' || c1 == 'H') && knownPair) {
    if (bits != 8 && bits != 16) return paramErr;
    out->storedCode = (UInt32('m') << 24) | (UInt32('m') << 16) | pair;
    out->bits = bits;
    out->startRow = (c2 == 'R' || c3 == 'R') ? 1 : 0;
    return noErr;
  }
  switch (code) {
    case FOUR_CHAR_CODE("raw "):
      if (bits != 8 && bits != 16 && bits != 24 && bits != 32 && bits != 48) return paramErr;
      out->storedCode = code;
      out->bits = bits;
      return noErr;
    case FOUR_CHAR_CODE("2vuy"):
      if (bits != 16) return paramErr;
      out->storedCode = code;
      out->bits = 16;
      return noErr;
    case FOUR_CHAR_CODE("Y411"):
      if (bits != 12) return paramErr;
      out->storedCode = code;
      out->bits = 16;
      return noErr;
    case FOUR_CHAR_CODE("v308"):
      if (bits != 24) return paramErr;
      out->storedCode = code;
      out->bits = 32;
      return noErr;
    default:
      return paramErr;
  }
}

bool isBayerStored(UInt32 code) {
  return code == FOUR_CHAR_CODE("RGGB") || code == FOUR_CHAR_CODE("GRBG") ||
         code == FOUR_CHAR_CODE("GBRG") || code == FOUR_CHAR_CODE("BGGR");
}

bool isGreyMosaicStored(UInt32 code) { return (code >> 16) == (UInt32('m') << 8 | 'm'); }

// ---- Conversions into a slot ----

// 12-bit packed stream (bytes b0 b1 b2 give p0 = b0 x 16 + (b1 & 0x0F) and
// p1 = b2 x 16 + (b1 >> 4)) to 16-bit big-endian samples, value << 4.
void unpack12ToBigEndian16(const UInt8* src, UInt8* dst, size_t samples) {
  size_t pairs = samples / 2;
  for (size_t i = 0; i < pairs; ++i) {
    const UInt8 b0 = src[3 * i], b1 = src[3 * i + 1], b2 = src[3 * i + 2];
    putBE16(dst + 4 * i, ((UInt32(b0) << 4) | (b1 & 0x0Fu)) << 4);
    putBE16(dst + 4 * i + 2, ((UInt32(b2) << 4) | (b1 >> 4)) << 4);
  }
  if (samples & 1) {  // the last sample of an odd count: its two bytes only
    const UInt8 b0 = src[3 * pairs], b1 = src[3 * pairs + 1];
    putBE16(dst + 4 * pairs, ((UInt32(b0) << 4) | (b1 & 0x0Fu)) << 4);
  }
}

// Cb Y0 Cr Y1 to Y0 Cb^80 Y1 Cr^80, a row at a time.
void convert2vuyRow(const UInt8* s, UInt8* d, UInt32 width) {
  UInt32 groups = width / 2;
  for (UInt32 g = 0; g < groups; ++g, s += 4, d += 4) {
    d[0] = s[1];
    d[1] = UInt8(s[0] ^ 0x80);
    d[2] = s[3];
    d[3] = UInt8(s[2] ^ 0x80);
  }
  if (width & 1) {  // an unpaired last pixel has no chroma of its own
    d[0] = s[1];
    d[1] = UInt8(s[0] ^ 0x80);
  }
}

// U Y0 Y1 V Y2 Y3 to Y0 U' Y1 V' Y2 U' Y3 V', a row at a time; the last
// width mod 4 pixels (no whole group) are stored black with neutral chroma.
void convertY411Row(const UInt8* s, UInt8* d, UInt32 width) {
  UInt32 groups = width / 4;
  for (UInt32 g = 0; g < groups; ++g, s += 6, d += 8) {
    const UInt8 u = UInt8(s[0] ^ 0x80), v = UInt8(s[3] ^ 0x80);
    d[0] = s[1];
    d[1] = u;
    d[2] = s[2];
    d[3] = v;
    d[4] = s[4];
    d[5] = u;
    d[6] = s[5];
    d[7] = v;
  }
  std::memset(d, 0, size_t(width % 4) * 2);
}

void storeFrame(MyMovieRecorderStruct* r, const UInt8* src, UInt8* dst) {
  const UInt32 W = r->mWidth, H = r->mHeight;
  const UInt32 code = r->mStoredCode;
  if (isBayerStored(code)) {
    if (r->mInputBits == 12) {
      unpack12ToBigEndian16(src, dst, size_t(W) * H);
    } else {
      myCopyMovieBuffer(src, dst, H, r->mSrcRowBytes, r->mDstRowBytes);
      if (r->mBitsPerPixel == 16) samplesToBigEndian(dst, size_t(W) * H);
    }
    UInt8* trailer = dst + size_t(r->mDstRowBytes) * H;
    myPutBE32(trailer, code);  // the pattern code's characters in order
    return;
  }
  if (isGreyMosaicStored(code)) {
    // One luma sample a pixel: the grey kernels of the demosaic engine, RGGB
    // family for 'mmRG' and 'mmGB', GRBG family for 'mmGR' and 'mmBG'.
    const UInt32 pair = code & 0xFFFF;
    const bool grbg = pair == ('G' << 8 | 'R') || pair == ('B' << 8 | 'G');
    const UInt32 sampleBytes = r->mBitsPerPixel / 8;
    UInt8* argb = r->mScratch;
    UInt8* packed = r->mScratch + size_t(W) * H * 4;
    const UInt8* mosaic = src;
    if (r->mSrcRowBytes != W * sampleBytes) {  // the kernels take packed rows
      myCopyMovieBuffer(src, packed, H, r->mSrcRowBytes, W * sampleBytes);
      mosaic = packed;
    }
    if (r->mBitsPerPixel == 16) {
      (grbg ? BayerGRBG16_MONO16 : BayerRGGB16_MONO16)(mosaic, dst, r->mDstRowBytes, W, H, r->mStartRowFlag);
      samplesToBigEndian(dst, size_t(W) * H);
    } else {
      (grbg ? BayerGRBG8_MONO_ARGB32 : BayerRGGB8_MONO_ARGB32)(mosaic, argb, W * 4, W, H, r->mStartRowFlag);
      for (UInt32 y = 0; y < H; ++y) {
        const UInt8* s = argb + size_t(y) * W * 4 + 1;
        UInt8* d = dst + size_t(y) * r->mDstRowBytes;
        for (UInt32 x = 0; x < W; ++x) d[x] = s[4 * size_t(x)];
      }
    }
    return;
  }
  switch (code) {
    case FOUR_CHAR_CODE("2vuy"):
      for (UInt32 y = 0; y < H; ++y)
        convert2vuyRow(src + size_t(y) * r->mSrcRowBytes, dst + size_t(y) * r->mDstRowBytes, W);
      return;
    case FOUR_CHAR_CODE("Y411"):
      for (UInt32 y = 0; y < H; ++y)
        convertY411Row(src + size_t(y) * r->mSrcRowBytes, dst + size_t(y) * r->mDstRowBytes, W);
      return;
    case FOUR_CHAR_CODE("v308"): {
      UInt8 altivec, isG5;
      myRecorderCameraFlags(r->mCamera, &altivec, &isG5);
      if (r->mSrcRowBytes == W * 3) {
        YUV444ToARGB32(src, dst, W * H * 3, W, r->mDstRowBytes, altivec, isG5);
      } else {
        for (UInt32 y = 0; y < H; ++y)
          YUV444ToARGB32(src + size_t(y) * r->mSrcRowBytes, dst + size_t(y) * r->mDstRowBytes, W * 3,
                         W, r->mDstRowBytes, altivec, isG5);
      }
      return;
    }
    default:  // 'raw '
      myCopyMovieBuffer(src, dst, H, r->mSrcRowBytes, r->mDstRowBytes);
      if (r->mBitsPerPixel == 16 || r->mBitsPerPixel == 48)
        samplesToBigEndian(dst, size_t(r->mDstRowBytes) * H / 2);
      return;
  }
}

// ---- Waiting ----

void pollSleep() { usleep(gHooks.pollIntervalUs); }

// ---- Teardown ----

// Stops and joins the writer, then releases the threading objects.
void stopWriter(MyMovieRecorderStruct* r) {
  if (r->mHasThread) {
    {
      Locker lock(&r->mMutex);
      r->mRunning = 0;
      pthread_cond_broadcast(&r->mCond);
    }
    // The writer writes what is queued (at most the ring) and ends; it is
    // joined whatever the wait, so nothing it uses is released under it.
    bool alive = true;
    for (UInt32 i = 0; i < gHooks.pollCount; ++i) {
      {
        Locker lock(&r->mMutex);
        alive = r->mAlive != 0;
      }
      if (!alive) break;
      pollSleep();
    }
    if (alive) {
      std::fprintf(stderr, "ORXDCAMCloseMovie writer still writing, waiting for it\n");
      if (gHooks.closeJoiningWriter) gHooks.closeJoiningWriter();
    }
    pthread_join(r->mThread, nullptr);
    r->mHasThread = 0;
  }
  if (r->mSyncReady) {
    pthread_attr_destroy(&r->mThreadAttr);
    pthread_cond_destroy(&r->mCond);
    pthread_mutex_destroy(&r->mMutex);
    r->mSyncReady = 0;
  }
}

void deleteReserve(MyMovieRecorderStruct* r) {
  if (!r->mHasReserve) return;
  OSErr err = FSpDelete(&r->mReserveSpec);
  if (err != noErr) std::fprintf(stderr, "ORXDCAMCloseMovie reserve delete failed Err = 0x%x %d\n", err, err);
  r->mHasReserve = 0;
}

// The bytes of the slot block: 2 pages plus a page and a frame a slot.
UInt64 slotBlockBytes(const MyMovieRecorderStruct* r) {
  const UInt64 page = vm_page_size;
  return 2 * page + (page + UInt64(r->mFrameBytes)) * r->mSlotCount;
}

void releaseSlots(MyMovieRecorderStruct* r) {
  if (r->mSlotBlock) munmap(r->mSlotBlock, size_t(slotBlockBytes(r)));
  r->mSlotBlock = nullptr;
  for (UInt8*& s : r->mSlots) s = nullptr;
}

void freeBuffers(MyMovieRecorderStruct* r) {
  releaseSlots(r);
  std::free(r->mTimeTable);
  r->mTimeTable = nullptr;
  std::free(r->mScratch);
  r->mScratch = nullptr;
}

void disposeRecord(MyMovieRecorderStruct* r) {
  freeBuffers(r);
  if (r->mImageDesc) DisposeHandle(reinterpret_cast<Handle>(r->mImageDesc));
  delete r;
}

// The failure path of create: release everything, delete the files made.
void abandonCreate(MyMovieRecorderStruct* r) {
  stopWriter(r);
  deleteReserve(r);
  if (r->mForkRef != 0) FSCloseFork(r->mForkRef);
  r->mForkRef = 0;
  if (r->mFileCreated) FSDeleteObject(&r->mFileRef);
  disposeRecord(r);
}

// ---- Create steps ----

OSErr makeReserveFile(MyMovieRecorderStruct* r) {
  void* block = std::calloc(1, kMovieReserveBlockBytes);
  if (!block) return memFullErr;
  char cname[32];
  int n = std::snprintf(cname, sizeof cname, "temp%u", unsigned(TickCount()));
  Str255 pname;
  pname[0] = UInt8(n);
  std::memcpy(pname + 1, cname, size_t(n));
  OSErr err = FSMakeFSSpec(r->mFileSpec.vRefNum, r->mFileSpec.parID, pname, &r->mReserveSpec);
  if (err == noErr) {  // a file of that name exists: go on without a reserve
    std::free(block);
    return noErr;
  }
  if (err != fnfErr) {
    std::free(block);
    return err;
  }
  FSRef ref;
  err = createFileAt(r->mReserveSpec, &ref);
  if (err == noErr) {
    FSIORefNum fork = 0;
    err = FSOpenFork(&ref, 0, nullptr, fsWrPerm, &fork);
    for (UInt32 i = 0; err == noErr && i < kMovieReserveBlocks; ++i)
      err = FSWriteFork(fork, fsAtMark | noCacheMask, 0, kMovieReserveBlockBytes, block, nullptr);
    if (fork != 0) {
      OSErr closeErr = FSCloseFork(fork);
      if (err == noErr) err = closeErr;
    }
    if (err != noErr) FSDeleteObject(&ref);
    else r->mHasReserve = 1;
  }
  std::free(block);
  return err;
}

OSErr allocateSlots(MyMovieRecorderStruct* r) {
  const UInt64 page = vm_page_size;
  const UInt64 F = UInt64(r->mFrameBytes);
  UInt64 count = kMovieSlotRingBytes / F;
  if (count > kMovieSmallRingSlots) count = kMovieSmallRingSlots;
  // One second of frames, within the budget.
  const double rate = r->mNominalFrameMs > 0 ? 1000.0 / r->mNominalFrameMs : kMovieRingDefaultRate;
  const UInt64 second = UInt64(std::min(std::ceil(rate), double(kMovieMaxSlots)));
  const UInt64 affordable = (kMovieRingBudgetBytes - 2 * page) / (page + F);
  count = std::max(count, std::min(second, affordable));
  if (count < 2) count = 2;
  if (count > kMovieMaxSlots) count = kMovieMaxSlots;
  r->mSlotCount = UInt32(count);
  const UInt64 total = slotBlockBytes(r);
  if (total > SIZE_MAX) return memFullErr;
  // The block's pages are all made present by the one call that maps it:
  // touched one by one, a ring of a few hundred megabytes takes a page fault
  // per page, seconds on a virtual machine, and recording would start late.
  void* block = mmap(nullptr, size_t(total), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  if (block == MAP_FAILED) return memFullErr;
  r->mSlotBlock = block;
  std::memset(r->mSlotBlock, 0xFF, size_t(total));
  uintptr_t p = reinterpret_cast<uintptr_t>(r->mSlotBlock);
  for (UInt32 i = 0; i < r->mSlotCount; ++i) {
    p = (p + page - 1) & ~uintptr_t(page - 1);
    r->mSlots[i] = reinterpret_cast<UInt8*>(p);
    p += F;
  }
  return noErr;
}

// Grows the time table so entry n exists; false when the table is full or
// memory can't be had. Called by the writer holding the mutex.
bool ensureTimeEntry(MyMovieRecorderStruct* r, UInt32 n) {
  if (n >= r->mTimeCapacity) return false;
  if (n < r->mTimeAllocated) return true;
  UInt64 want = r->mTimeAllocated < 4096 ? 4096 : UInt64(r->mTimeAllocated) * 2;
  if (want > r->mTimeCapacity) want = r->mTimeCapacity;
  void* p = std::realloc(r->mTimeTable, size_t(want) * sizeof(float));
  if (!p) return false;
  r->mTimeTable = static_cast<float*>(p);
  r->mTimeAllocated = UInt32(want);
  return true;
}

}  // namespace

// ---------------------------------------------------------------- row copy

void myCopyMovieBuffer(const void* src, void* dst, UInt32 rows, UInt32 srcRowBytes,
                       UInt32 dstRowBytes) {
  const UInt8* s = static_cast<const UInt8*>(src);
  UInt8* d = static_cast<UInt8*>(dst);
  if (srcRowBytes == dstRowBytes) {
    UInt64 total = UInt64(rows) * dstRowBytes;
    while (total > 0) {  // the block copy takes 32-bit counts
      UInt32 n = total > 0x40000000u ? 0x40000000u : UInt32(total);
      myLocalMWMemCpy(d, s, n);
      d += n;
      s += n;
      total -= n;
    }
    return;
  }
  for (UInt32 y = 0; y < rows; ++y)
    myLocalMWMemCpy(d + size_t(y) * dstRowBytes, s + size_t(y) * srcRowBytes, dstRowBytes);
}

// ---------------------------------------------------------------- create

MyMovieRecorderStruct* ORXDCAMCreateMovie(MyDCAMCameraStruct* camera, double nominalFrameMs,
                                          SInt32 timeScale, UInt32 width, UInt32 height,
                                          UInt32 pixelFormatCode, UInt32 bitsPerPixel,
                                          UInt32 srcRowBytes, FSSpec fileLocation, OSErr* errOut) {
  OSErr dummy;
  OSErr& err = errOut ? *errOut : dummy;
  err = paramErr;
  if (!camera || width == 0 || height == 0 || bitsPerPixel == 0 || timeScale <= 0) return nullptr;
  if (std::isnan(nominalFrameMs) || std::isinf(nominalFrameMs)) return nullptr;
  // The sample description holds 16-bit sizes.
  if (width > 0x7FFF || height > 0x7FFF) return nullptr;
  NormalisedFormat fmt;
  if (normaliseFormat(pixelFormatCode, bitsPerPixel, &fmt) != noErr) return nullptr;
  const UInt64 packedRow = (UInt64(width) * bitsPerPixel + 7) / 8;
  if (srcRowBytes == 0) srcRowBytes = UInt32(packedRow);
  if (srcRowBytes < UInt64(width) * bitsPerPixel / 8) return nullptr;
  if (bitsPerPixel == 12 &&
      UInt64(srcRowBytes) * height < (UInt64(width) * height * 3 + 1) / 2)
    return nullptr;  // the 12-bit stream must fit the frame the caller passes
  const UInt64 dstRowBytes = UInt64(width) * fmt.bits / 8;
  const UInt64 frameBytes = dstRowBytes * height + (isBayerStored(fmt.storedCode) ? 4 : 0);
  if (frameBytes > 0x7FFFFFFF) return nullptr;

  auto* r = new (std::nothrow) MyMovieRecorderStruct{};
  if (!r) {
    err = memFullErr;
    return nullptr;
  }
  r->mCamera = camera;
  r->mTimeScale = timeScale;
  r->mWidth = width;
  r->mHeight = height;
  r->mBounds = Rect{0, 0, short(height), short(width)};
  r->mStoredCode = fmt.storedCode;
  r->mBitsPerPixel = fmt.bits;
  r->mInputBits = bitsPerPixel;
  r->mStartRowFlag = fmt.startRow;
  r->mSrcRowBytes = srcRowBytes;
  r->mDstRowBytes = UInt32(dstRowBytes);
  r->mFrameBytes = SInt32(frameBytes);
  r->mNominalFrameMs = nominalFrameMs > 0 ? nominalFrameMs : -1.0;
  r->mFileSpec = fileLocation;
  r->mWritingSlot = r->mNextToWrite = r->mLastFilled = kMovieNoSlot;
  r->mWaitOnCond = 1;

  // Sample description (with the grey colour table for 8-bit grey).
  OSErr e = noErr;
  r->mImageDesc = myCreateMovieImageDescription(fmt.storedCode, fmt.bits, fmt.quality, width, height, &e);
  if (!r->mImageDesc) {
    err = e == noErr ? OSErr(memFullErr) : e;
    disposeRecord(r);
    return nullptr;
  }

  // The movie file: a new file only; an existing one is left as it is.
  e = createFileAt(fileLocation, &r->mFileRef);
  if (e != noErr) {
    err = e;
    disposeRecord(r);
    return nullptr;
  }
  r->mFileCreated = 1;  // files here carry no type and creator codes

  // The time table counts at most the frames the volume has room for; when
  // the volume can't say, it grows as frames come.
  UInt64 freeBytes = 0;
  if (SkyloomGetFreeBytes(&r->mFileRef, &freeBytes) == noErr) {
    if (freeBytes > 10 * frameBytes) {
      UInt64 cap = freeBytes / frameBytes;
      r->mTimeCapacity = cap > 0xFFFFFFFFu ? 0xFFFFFFFFu : UInt32(cap);
    }
  } else {
    r->mTimeCapacity = 0xFFFFFFFFu;
  }
  if (r->mTimeCapacity > 0) {
    UInt32 first = r->mTimeCapacity < 65536 ? r->mTimeCapacity : 65536;
    r->mTimeTable = static_cast<float*>(std::malloc(size_t(first) * sizeof(float)));
    if (r->mTimeTable) r->mTimeAllocated = first;  // else it grows in the writer
  }

  // Open the fork and write the 4096-byte header area.
  e = FSOpenFork(&r->mFileRef, 0, nullptr, fsWrPerm, &r->mForkRef);
  if (e == noErr) {
    void* zeros = std::calloc(1, kMovieFirstFrameOffset);
    if (!zeros) {
      e = memFullErr;
    } else {
      e = FSWriteFork(r->mForkRef, fsFromStart | noCacheMask, 0, kMovieFirstFrameOffset, zeros, nullptr);
      std::free(zeros);
    }
  } else {
    r->mForkRef = 0;
  }
  if (e == noErr) e = allocateSlots(r);
  if (e == noErr && isGreyMosaicStored(fmt.storedCode)) {
    // Work area: the packed source when the caller's rows are padded, and
    // the ARGB32 grey frame the 8-bit kernel writes.
    size_t bytes = size_t(width) * height * 4 + size_t(width) * height * 2;
    r->mScratch = static_cast<UInt8*>(std::malloc(bytes));
    if (!r->mScratch) e = memFullErr;
  }
  if (e == noErr) e = makeReserveFile(r);

  // The writer thread.
  if (e == noErr) {
    int pe = pthread_mutex_init(&r->mMutex, nullptr);
    if (pe == 0) {
      pe = pthread_cond_init(&r->mCond, nullptr);
      if (pe != 0) pthread_mutex_destroy(&r->mMutex);
    }
    if (pe == 0) {
      pe = pthread_attr_init(&r->mThreadAttr);
      if (pe != 0) {
        pthread_cond_destroy(&r->mCond);
        pthread_mutex_destroy(&r->mMutex);
      }
    }
    if (pe == 0) {
      r->mSyncReady = 1;
      pe = pthread_attr_setdetachstate(&r->mThreadAttr, PTHREAD_CREATE_JOINABLE);
    }
    if (pe == 0) pe = pthread_create(&r->mThread, &r->mThreadAttr, mySaveFrameThread, r);
    if (pe == 0) {
      r->mHasThread = 1;
      Locker lock(&r->mMutex);
      while (r->mRunning == 0) pthread_cond_wait(&r->mCond, &r->mMutex);
    } else {
      std::fprintf(stderr, "ORXDCAMCreateMovie pthread_create failed Err = 0x%x %d\n", pe, pe);
      e = OSErr(pe);
    }
  }
  if (e != noErr) {
    std::fprintf(stderr, "ORXDCAMCreateMovie failed Err = 0x%x %d\n", UInt16(e), e);
    err = e;
    abandonCreate(r);
    return nullptr;
  }
  err = noErr;
  return r;
}

// ---------------------------------------------------------------- writer

namespace {
// The writer asks for the time-constraint policy (a real-time priority where
// the user may have one): on a loaded machine it must not sit off the CPU
// while the ring fills. Refused, it runs on at its normal priority.
void raiseWriterPriority() {
  SkyloomRequestTimeConstraintMs(5.0, 2.0, 5.0);
}
}  // namespace

void* mySaveFrameThread(void* arg) {
  auto* r = static_cast<MyMovieRecorderStruct*>(arg);
  raiseWriterPriority();
  pthread_mutex_lock(&r->mMutex);
  r->mAlive = 1;
  r->mRunning = 1;
  pthread_cond_broadcast(&r->mCond);
  for (;;) {
    if (r->mNextToWrite == kMovieNoSlot) {
      // Nothing queued: end when asked to, else wait. The producer signals
      // every hand-off from idle to busy, so waiting always suffices.
      if (!r->mRunning) break;
      pthread_cond_wait(&r->mCond, &r->mMutex);
      continue;
    }
    if (gHooks.beforeTakingSlot) {
      pthread_mutex_unlock(&r->mMutex);
      gHooks.beforeTakingSlot();
      pthread_mutex_lock(&r->mMutex);
    }
    const UInt32 slot = r->mNextToWrite;
    r->mWritingSlot = slot;
    const UInt32 frameIndex = r->mFramesWritten;
    pthread_mutex_unlock(&r->mMutex);

    if (gHooks.beforeWrite) gHooks.beforeWrite(frameIndex);
    OSErr err = FSWriteFork(r->mForkRef, fsAtMark | noCacheMask, 0, ByteCount(r->mFrameBytes),
                            r->mSlots[slot], nullptr);

    pthread_mutex_lock(&r->mMutex);
    if (err == noErr) {
      if (ensureTimeEntry(r, r->mFramesWritten)) {
        r->mTimeTable[r->mFramesWritten] = r->mSlotTimes[slot];
        ++r->mFramesWritten;
      } else {
        err = dskFulErr;  // the time table is full
      }
    }
    r->mStatus = err;
    // After close has cleared mRunning the frames queued before it are still
    // written: a stopped recording keeps every frame it accepted.
    if (err == noErr) {
      if (slot == r->mLastFilled) {
        r->mNextToWrite = kMovieNoSlot;
        r->mWritingSlot = kMovieNoSlot;
      } else {
        r->mNextToWrite = (slot + 1) % r->mSlotCount;
      }
    } else {
      r->mNextToWrite = kMovieNoSlot;
      r->mWritingSlot = kMovieNoSlot;
      r->mRunning = 0;
    }
  }
  r->mAlive = 0;
  pthread_mutex_unlock(&r->mMutex);
  return nullptr;
}

// ---------------------------------------------------------------- add a frame

namespace {

OSErr addFrame(MyMovieRecorderStruct* r, const UInt8* frame, double t) {
  // A closing recorder takes no more frames.
  if (atomicLoad(r->mClosing)) return noErr;
  if (gHooks.insideAddFrame) gHooks.insideAddFrame();
  if (!std::isfinite(t)) return kMovieFrameTimeErr;

  double d;
  if (r->mHasTimeOrigin) {
    if (!(t > r->mLastFrameTime)) return kMovieFrameTimeErr;
    d = std::rint(double(r->mTimeScale) * (t - r->mLastFrameTime) * 0.001);
  } else if (r->mNominalFrameMs > 0) {
    d = std::rint(double(r->mTimeScale) * r->mNominalFrameMs * 0.001);
  } else {
    // The first frame is only the time origin.
    r->mHasTimeOrigin = 1;
    r->mLastFrameTime = t;
    return noErr;
  }
  if (!(d >= 1.0)) return kMovieFrameTimeErr;
  // Kept for the record; the writer always waits on the condition variable,
  // since every hand-off from idle to busy signals it.
  r->mWaitOnCond = d > 17.0 ? 1 : 0;

  UInt32 fill;
  {
    Locker lock(&r->mMutex);
    if (r->mStatus != noErr) return OSErr(r->mStatus);
    fill = r->mFillIndex;
    const UInt32 next = (fill + 1) % r->mSlotCount;
    // The oldest slot the writer still needs: the one it writes, or, before it
    // has woken to take it, the one handed to it. The producer stops short of it.
    const UInt32 oldest = r->mWritingSlot != kMovieNoSlot ? r->mWritingSlot : r->mNextToWrite;
    if (next == oldest) {  // ring full: drop, the next duration spans it
      ++r->mFramesDropped;
      return noErr;
    }
  }
  // The writer never touches the slot being filled: it stops short of it.
  storeFrame(r, frame, r->mSlots[fill]);
  {
    Locker lock(&r->mMutex);
    r->mSlotTimes[fill] = float(t);
    r->mLastFilled = fill;
    r->mFillIndex = (fill + 1) % r->mSlotCount;
    ++r->mFramesQueued;
    if (r->mNextToWrite == kMovieNoSlot) {
      r->mNextToWrite = fill;
      pthread_cond_signal(&r->mCond);
    }
  }
  r->mLastFrameTime = t;
  r->mHasTimeOrigin = 1;
  return noErr;
}

}  // namespace

OSErr ORXDCAMAddMovieFrame(MyMovieRecorderStruct* r, const void* frame, double frameTimeMs) {
  if (!r || !frame) return paramErr;
  if (!CompareAndSwap(0, 1, &r->mAddFrameBusy)) return kMovieAddFrameBusyErr;
  IncrementAtomic(&r->mCallsInProgress);
  OSErr result = addFrame(r, static_cast<const UInt8*>(frame), frameTimeMs);
  atomicStore(r->mAddFrameBusy, 0);
  // The last touch of the record: close may free it as soon as this is 0.
  DecrementAtomic(&r->mCallsInProgress);
  return result;
}

// ---------------------------------------------------------------- close

OSErr ORXDCAMCloseMovie(MyMovieRecorderStruct* r) {
  if (!r) return noErr;
  // 1. Add-frame calls from now on drop their frame.
  atomicStore(r->mClosing, 1);
  // 2. Let add-frame calls in progress finish.
  bool told = false;
  for (UInt32 i = 0; atomicLoad(r->mCallsInProgress) != 0; ++i) {
    if (i == 0 && gHooks.closeWaitingForCalls) gHooks.closeWaitingForCalls();
    if (i == gHooks.pollCount && !told) {
      std::fprintf(stderr, "ORXDCAMCloseMovie add-frame call still running, waiting for it\n");
      told = true;
    }
    pollSleep();
  }
  // 3. Stop and join the writer.
  stopWriter(r);
  // 4. The reserve's room is free before the movie atom is written.
  deleteReserve(r);
  // 5. A full volume or time table ends the recording normally.
  OSStatus status = r->mStatus == dskFulErr ? OSStatus(noErr) : r->mStatus;
  // 6. The slots.
  releaseSlots(r);
  // 7. Another writer error: the movie is deleted.
  if (status != noErr) {
    std::fprintf(stderr, "ORXDCAMCloseMovie writer failed Err = 0x%x %d, movie deleted\n",
                 UInt32(status), int(status));
    FSCloseFork(r->mForkRef);
    FSDeleteObject(&r->mFileRef);
    disposeRecord(r);
    return noErr;
  }
  // 8. The movie atom, directly after the frames counted: anything written
  //    after them (a frame the table could not count, part of a frame the
  //    volume had no room for) is cut off first.
  const UInt32 N = r->mFramesWritten;
  const UInt32 F = UInt32(r->mFrameBytes);
  if (r->mNominalFrameMs <= 0) {
    r->mNominalFrameMs =
        N >= 2 ? double(r->mTimeTable[N - 1] - r->mTimeTable[0]) / double(N - 1) : 1000.0;
  }
  OSErr atomErr = noErr;
  const UInt64 dataEnd = myMovieDataEnd(N, F);
  atomErr = FSSetForkSize(r->mForkRef, fsFromStart, SInt64(dataEnd));
  if (atomErr == noErr && N > 0 && r->mTimeTable && r->mImageDesc && r->mNominalFrameMs > 0) {
    UInt32 now = 0;
    GetDateTime(&now);
    MovieAtomParams p{r->mWidth, r->mHeight, r->mTimeScale, r->mTimeTable, N,
                      F, r->mNominalFrameMs, r->mImageDesc, now};
    std::vector<UInt8> atom;
    atomErr = OSErr(myBuildMovieAtom(p, &atom));
    if (atomErr == noErr)
      atomErr = FSWriteFork(r->mForkRef, fsFromStart | noCacheMask, SInt64(dataEnd), atom.size(),
                            atom.data(), nullptr);
    if (atomErr != noErr) FSSetForkSize(r->mForkRef, fsFromStart, SInt64(dataEnd));
  }
  if (atomErr != noErr)
    std::fprintf(stderr, "ORXDCAMCloseMovie movie atom failed Err = 0x%x %d\n", UInt16(atomErr), atomErr);
  // 9. The header, then the fork is closed.
  std::free(r->mTimeTable);
  r->mTimeTable = nullptr;
  UInt8 header[kMovieHeaderBytes];
  myBuildMovieFileHeader(N, F, header);
  OSErr headerErr =
      FSWriteFork(r->mForkRef, fsFromStart | noCacheMask, 0, kMovieHeaderBytes, header, nullptr);
  OSErr closeErr = FSCloseFork(r->mForkRef);
  r->mForkRef = 0;
  if (headerErr != noErr) {
    std::fprintf(stderr, "ORXDCAMCloseMovie header write failed Err = 0x%x %d, movie deleted\n",
                 UInt16(headerErr), headerErr);
    FSDeleteObject(&r->mFileRef);
    disposeRecord(r);
    return headerErr;
  }
  // 10.
  disposeRecord(r);
  return atomErr != noErr ? atomErr : closeErr;
}

// ---------------------------------------------------------------- tests

void myMovieRecorderGetStats(MyMovieRecorderStruct* r, MyMovieRecorderStats* s) {
  Locker lock(&r->mMutex);
  s->framesQueued = r->mFramesQueued;
  s->framesDropped = r->mFramesDropped;
  s->framesWritten = r->mFramesWritten;
  s->slotCount = r->mSlotCount;
  s->status = r->mStatus;
}

void myMovieRecorderSetTestHooks(const MyMovieRecorderTestHooks* hooks) {
  gHooks = hooks ? *hooks : MyMovieRecorderTestHooks{};
}
