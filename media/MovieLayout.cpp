#include "media/MovieLayout.h"

#include <cmath>
#include <cstring>
#include <new>

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/AtomWriter.h"

namespace {

UInt32 saturateU32(double v) {
  if (!(v > 0.0)) return 0;  // NaN and negatives
  if (v >= 4294967295.0) return 0xFFFFFFFFu;
  return UInt32(v);
}

}  // namespace

// ---------------------------------------------------------------- colour tables

OSErr myCreateMono8Clut(Handle h) {
  if (!h) return paramErr;
  Handle table = NewHandleClear(kGreyColorTableBytes);
  if (!table) return memFullErr;
  auto* ct = reinterpret_cast<ColorTable*>(*table);
  // Seed 0: readers take the seed for the first palette index.
  ct->ctSeed = 0;
  ct->ctFlags = 0;
  ct->ctSize = 255;
  auto* entries = reinterpret_cast<ColorSpec*>(*table + kColorTableHeaderBytes);
  for (int i = 0; i < 256; ++i) {
    ColorSpec cs;
    cs.value = SInt16(i);
    cs.rgb.red = cs.rgb.green = cs.rgb.blue = UInt16(i * 257);
    std::memcpy(&entries[i], &cs, sizeof cs);
  }
  OSErr err = PtrAndHand(*table, h, kGreyColorTableBytes);
  DisposeHandle(table);
  return err == noErr ? noErr : memFullErr;
}

OSErr myCreateClut(ImageDescriptionHandle desc) {
  if (!desc) return paramErr;
  OSErr err = myCreateMono8Clut(reinterpret_cast<Handle>(desc));
  if (err != noErr) return err;
  (*desc)->idSize = SInt32(GetHandleSize(reinterpret_cast<Handle>(desc)));
  (*desc)->clutID = 0;
  return noErr;
}

// ---------------------------------------------------------------- descriptions

OSStatus myMovieStoredFormat(UInt32 storedCode, UInt32 bits, MovieStoredFormat* out) {
  if (!out) return paramErr;
  MovieStoredFormat f{FOUR_CHAR_CODE("raw "), FOUR_CHAR_CODE("appl"), 1, 1, 0, 0, 0};
  switch (storedCode) {
    case FOUR_CHAR_CODE("RGGB"):
    case FOUR_CHAR_CODE("GRBG"):
    case FOUR_CHAR_CODE("GBRG"):
    case FOUR_CHAR_CODE("BGGR"):
      if (bits == 0) return paramErr;
      // Every raw Bayer movie has codec 'BGGR'; the frame trailer names the mosaic.
      f.codec = FOUR_CHAR_CODE("BGGR");
      f.vendor = FOUR_CHAR_CODE("ORX ");
      f.depth = bits > 8 ? 16 : 8;
      f.bayer = 1;
      break;
    case FOUR_CHAR_CODE("mmRG"):
    case FOUR_CHAR_CODE("mmGB"):
    case FOUR_CHAR_CODE("mmGR"):
    case FOUR_CHAR_CODE("mmBG"):
      if (bits == 8) {
        f.depth = 8;
        f.greyTable = 1;
      } else if (bits == 16) {
        f.codec = FOUR_CHAR_CODE("b16g");
        f.depth = 16;
      } else {
        return paramErr;
      }
      break;
    case FOUR_CHAR_CODE("raw "):
      switch (bits) {
        case 8: f.depth = 8; f.greyTable = 1; break;
        case 16: f.codec = FOUR_CHAR_CODE("b16g"); f.depth = 16; break;
        case 24: f.depth = 24; break;
        case 32: f.depth = 32; break;
        case 48: f.codec = FOUR_CHAR_CODE("b48r"); f.depth = 48; break;
        default: return paramErr;  // 12-bit 'raw ' has no stored form
      }
      break;
    case FOUR_CHAR_CODE("2vuy"):
    case FOUR_CHAR_CODE("Y411"):
      f.codec = FOUR_CHAR_CODE("yuv2");
      f.version = 2;
      f.revision = 0;
      f.depth = 24;
      break;
    case FOUR_CHAR_CODE("v308"):
      f.depth = 32;
      break;
    default:
      return paramErr;
  }
  *out = f;
  return noErr;
}

ImageDescriptionHandle myCreateMovieImageDescription(UInt32 storedCode, UInt32 bits,
                                                     UInt32 spatialQuality, UInt32 width,
                                                     UInt32 height, OSErr* err) {
  OSErr dummy;
  if (!err) err = &dummy;
  MovieStoredFormat f;
  if (myMovieStoredFormat(storedCode, bits, &f) != noErr) {
    *err = paramErr;
    return nullptr;
  }
  auto h = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(kImageDescriptionBytes));
  if (!h) {
    *err = memFullErr;
    return nullptr;
  }
  ImageDescription& d = **h;
  d.idSize = kImageDescriptionBytes;
  d.cType = f.codec;
  d.dataRefIndex = 0;
  d.version = f.version;
  d.revisionLevel = f.revision;
  d.vendor = SInt32(f.vendor);
  d.temporalQuality = 0;
  d.spatialQuality = f.bayer ? spatialQuality : codecLosslessQuality;
  d.width = SInt16(width);
  d.height = SInt16(height);
  d.hRes = d.vRes = Long2Fix(72);
  d.dataSize = 0;
  d.frameCount = 1;
  d.depth = f.depth;
  d.clutID = -1;
  if (f.greyTable) {
    OSErr e = myCreateClut(h);
    if (e != noErr) {
      DisposeHandle(reinterpret_cast<Handle>(h));
      *err = e;
      return nullptr;
    }
  }
  *err = noErr;
  return h;
}

std::vector<UInt8> myFlattenImageDescription(ImageDescriptionHandle desc) {
  if (!desc) return {};
  const ImageDescription& d = **desc;
  QTAtomWriter w;
  Size total = GetHandleSize(reinterpret_cast<Handle>(desc));
  w.u32(UInt32(d.idSize));
  w.u32(d.cType);
  w.u32(UInt32(d.resvd1));
  w.u16(UInt16(d.resvd2));
  w.u16(UInt16(d.dataRefIndex));
  w.u16(UInt16(d.version));
  w.u16(UInt16(d.revisionLevel));
  w.u32(UInt32(d.vendor));
  w.u32(d.temporalQuality);
  w.u32(d.spatialQuality);
  w.u16(UInt16(d.width));
  w.u16(UInt16(d.height));
  w.u32(UInt32(d.hRes));
  w.u32(UInt32(d.vRes));
  w.u32(UInt32(d.dataSize));
  w.u16(UInt16(d.frameCount));
  w.bytes(d.name, 32);
  w.u16(UInt16(d.depth));
  w.u16(UInt16(d.clutID));
  // A colour table that follows is swapped field by field.
  if (d.clutID == 0 && total >= kImageDescriptionBytes + kGreyColorTableBytes) {
    const char* base = reinterpret_cast<const char*>(*desc) + kImageDescriptionBytes;
    ColorTable ct;
    std::memcpy(&ct, base, kColorTableHeaderBytes);
    w.u32(UInt32(ct.ctSeed));
    w.u16(UInt16(ct.ctFlags));
    w.u16(UInt16(ct.ctSize));
    int entries = ct.ctSize + 1;
    if (entries < 0) entries = 0;
    long room = (total - kImageDescriptionBytes - kColorTableHeaderBytes) / long(sizeof(ColorSpec));
    if (entries > room) entries = int(room);
    for (int i = 0; i < entries; ++i) {
      ColorSpec cs;
      std::memcpy(&cs, base + kColorTableHeaderBytes + i * sizeof(ColorSpec), sizeof cs);
      w.u16(UInt16(cs.value));
      w.u16(cs.rgb.red);
      w.u16(cs.rgb.green);
      w.u16(cs.rgb.blue);
    }
  }
  // Keep the size field and the bytes in step.
  myPutBE32(w.b.data(), UInt32(w.b.size()));
  return std::move(w.b);
}

// ---------------------------------------------------------------- durations

std::vector<MovieTimeToSample> myBuildSampleDurations(const float* times, UInt32 n,
                                                      SInt32 timeScale, double nominalFrameMs,
                                                      UInt32* mediaDuration) {
  std::vector<MovieTimeToSample> runs;
  UInt64 total = 0;
  const double k = double(timeScale) * 0.001;
  if (n == 1) {
    UInt32 d = saturateU32(std::trunc(nominalFrameMs * k));
    runs.push_back({1, d});
    total = d;
  } else if (n >= 2 && times) {
    for (UInt32 i = 0; i + 1 < n; ++i) {
      float diff = times[i + 1] - times[i];  // the interval in single precision
      UInt32 d = saturateU32(std::rint(k * double(diff)));
      if (!runs.empty() && runs.back().duration == d) {
        runs.back().count++;
      } else {
        runs.push_back({1, d});
      }
    }
    // The last frame lasts as long as the last interval.
    runs.back().count++;
    for (const auto& r : runs) total += UInt64(r.count) * r.duration;
  }
  if (mediaDuration) *mediaDuration = total > 0xFFFFFFFFull ? 0xFFFFFFFFu : UInt32(total);
  return runs;
}

UInt32 myMovieDurationFromMedia(UInt32 mediaDuration, SInt32 timeScale) {
  if (timeScale == 0) return 0;
  return saturateU32(std::rint(double(mediaDuration) / double(timeScale) * 600.0));
}

// ---------------------------------------------------------------- header and offsets

UInt64 myMovieDataEnd(UInt32 n, UInt32 frameBytes) {
  double t = double(kMovieFirstFrameOffset) + double(n) * double(frameBytes);
  return UInt64(t);
}

void myBuildMovieFileHeader(UInt32 n, UInt32 frameBytes, UInt8 header[16]) {
  UInt64 t = myMovieDataEnd(n, frameBytes);
  if ((t >> 32) == 0) {
    myPutBE32(header, 8);
    myPutBE32(header + 4, FOUR_CHAR_CODE("wide"));
    myPutBE32(header + 8, UInt32(t - 8));
    myPutBE32(header + 12, FOUR_CHAR_CODE("mdat"));
  } else {
    myPutBE32(header, 1);
    myPutBE32(header + 4, FOUR_CHAR_CODE("mdat"));
    myPutBE64(header + 8, t);
  }
}

bool myMovieNeeds64BitOffsets(UInt32 n, UInt32 frameBytes) {
  return double(kMovieFirstFrameOffset) + double(n) * double(frameBytes) >= 4294967295.0;
}

std::vector<UInt8> myCreateChunkOffsetTable(UInt32 n, UInt32 frameBytes) {
  QTAtomWriter w;
  if (myMovieNeeds64BitOffsets(n, frameBytes)) {
    w.b.reserve(16 + size_t(n) * 8);
    w.header(UInt32(16 + UInt64(n) * 8), "co64");
    w.u32(0);
    w.u32(n);
    UInt64 offset = kMovieFirstFrameOffset;
    for (UInt32 k = 0; k < n; ++k, offset += frameBytes) w.u64(offset);
  } else {
    w.b.reserve(16 + size_t(n) * 4);
    w.header(16 + n * 4, "stco");
    w.u32(0);
    w.u32(n);
    UInt32 offset = kMovieFirstFrameOffset;
    for (UInt32 k = 0; k < n; ++k, offset += frameBytes) w.u32(offset);
  }
  return std::move(w.b);
}

// ---------------------------------------------------------------- movie atom

OSStatus myBuildMovieAtom(const MovieAtomParams& p, std::vector<UInt8>* out) {
  if (!out || p.frameCount == 0 || !p.desc || p.timeScale == 0 || (p.frameCount > 1 && !p.times))
    return paramErr;
  try {
    UInt32 mediaDuration = 0;
    auto runs = myBuildSampleDurations(p.times, p.frameCount, p.timeScale, p.nominalFrameMs,
                                       &mediaDuration);
    const UInt32 movieDuration = myMovieDurationFromMedia(mediaDuration, p.timeScale);
    const std::vector<UInt8> desc = myFlattenImageDescription(p.desc);
    const std::vector<UInt8> offsets = myCreateChunkOffsetTable(p.frameCount, p.frameBytes);

    const UInt64 stsd = 16 + desc.size();
    const UInt64 stts = 16 + 8 * UInt64(runs.size());
    const UInt64 S = stsd + stts + 28 + 20 + offsets.size();
    if (kMovieAtomFixedBytes + S > 0xFFFFFFFFull) return memFullErr;
    const UInt32 s = UInt32(S);

    QTAtomWriter w;
    w.b.reserve(kMovieAtomFixedBytes + S);
    const UInt32 t = p.creationTime;

    w.header(484 + s, "moov");
    w.header(108, "mvhd");
    w.u32(0);
    w.u32(t);
    w.u32(t);
    w.u32(kMovieTimeScale);
    w.u32(movieDuration);
    w.u32(0x00010000);
    w.u16(0x00FF);
    w.zeros(10);
    w.matrix();
    w.zeros(24);
    w.u32(2);

    w.header(368 + s, "trak");
    w.header(92, "tkhd");
    w.u32(0x0000000F);
    w.u32(t);
    w.u32(t);
    w.u32(1);
    w.u32(0);
    w.u32(movieDuration);
    w.zeros(8);
    w.u16(0);
    w.u16(0);
    w.u16(0);
    w.u16(0);
    w.matrix();
    w.u32(UInt32(Long2Fix(SInt32(p.width))));
    w.u32(UInt32(Long2Fix(SInt32(p.height))));

    w.header(36, "edts");
    w.header(28, "elst");
    w.u32(0);
    w.u32(1);
    w.u32(movieDuration);
    w.u32(0);
    w.u32(0x00010000);

    w.header(232 + s, "mdia");
    w.header(32, "mdhd");
    w.u32(0);
    w.u32(t);
    w.u32(t);
    w.u32(UInt32(p.timeScale));
    w.u32(mediaDuration);
    w.u16(0);
    w.u16(0);

    w.header(60, "hdlr");
    w.u32(0);
    w.u32(FOUR_CHAR_CODE("mhlr"));
    w.u32(FOUR_CHAR_CODE("vide"));
    w.u32(FOUR_CHAR_CODE("appl"));
    w.u32(0x10000000);
    w.u32(0x0001014F);
    w.pascal("Apple Video Media Handler", 2);

    w.header(132 + s, "minf");
    w.header(20, "vmhd");
    w.u32(0x00000001);
    w.u16(0x0040);
    w.u16(0x8000);
    w.u16(0x8000);
    w.u16(0x8000);

    w.header(60, "hdlr");
    w.u32(0);
    w.u32(FOUR_CHAR_CODE("dhlr"));
    w.u32(FOUR_CHAR_CODE("alis"));
    w.u32(FOUR_CHAR_CODE("appl"));
    w.u32(0x10000001);
    w.u32(0x00010163);
    w.pascal("Apple Alias Data Handler", 3);

    w.header(36, "dinf");
    w.header(28, "dref");
    w.u32(0);
    w.u32(1);
    w.header(12, "alis");
    w.u32(0x00000001);

    w.header(8 + s, "stbl");
    w.header(UInt32(stsd), "stsd");
    w.u32(0);
    w.u32(1);
    w.bytes(desc);

    w.header(UInt32(stts), "stts");
    w.u32(0);
    w.u32(UInt32(runs.size()));
    for (const auto& r : runs) {
      w.u32(r.count);
      w.u32(r.duration);
    }

    w.header(28, "stsc");
    w.u32(0);
    w.u32(1);
    w.u32(1);
    w.u32(1);
    w.u32(1);

    w.header(20, "stsz");
    w.u32(0);
    w.u32(p.frameBytes);
    w.u32(p.frameCount);

    w.bytes(offsets);
    *out = std::move(w.b);
    return noErr;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}
