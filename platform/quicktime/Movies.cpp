#include "platform/quicktime/Movies.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "media/PixelFormatKernels.h"
#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/AtomWriter.h"
#include "platform/quicktime/BigEndian.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/ImageCodec.h"
#include "platform/quicktime/MovieAtoms.h"

namespace {

thread_local OSErr tMoviesError = noErr;

OSErr setError(OSErr e) { return tMoviesError = e; }

using qt::be16;
using qt::be32;

// ---------------------------------------------------------------- descriptions

// Sample descriptions travel big-endian in files and in host order in
// memory. Swapping the same fields converts either way; fromFile says which
// side the counts (colour table ID, table size) are read from.
void swapField(std::vector<UInt8>& d, size_t off, size_t width) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (off + width <= d.size()) std::reverse(d.begin() + long(off), d.begin() + long(off + width));
#else
  (void)d, (void)off, (void)width;
#endif
}
// A 16-bit field of a description, from the file's order or the host's.
SInt16 field16(const std::vector<UInt8>& d, size_t off, bool bigEndian) {
  if (off + 2 > d.size()) return 0;
  if (bigEndian) return SInt16(be16(&d[off]));
  SInt16 v;
  std::memcpy(&v, &d[off], 2);
  return v;
}

void convertDescription(std::vector<UInt8>& d, OSType mediaType, bool fromFile) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  (void)d, (void)mediaType, (void)fromFile;
  return;
#else
  if (mediaType == VideoMediaType && d.size() >= 86) {
    const SInt16 clutID = field16(d, 84, fromFile);
    static const UInt8 widths[] = {4, 4, 4, 2, 2, 2, 2, 4, 4, 4, 2, 2, 4, 4, 4, 2};
    size_t off = 0;
    for (UInt8 w : widths) {
      swapField(d, off, w);
      off += w;
    }
    swapField(d, 82, 2);
    swapField(d, 84, 2);
    if (clutID == 0 && d.size() >= 86 + 8) {
      const SInt16 ctSize = field16(d, 86 + 6, fromFile);
      swapField(d, 86, 4);
      swapField(d, 90, 2);
      swapField(d, 92, 2);
      for (long i = 0; i <= ctSize && 94 + size_t(i) * 8 + 8 <= d.size(); ++i)
        for (int k = 0; k < 4; ++k) swapField(d, 94 + size_t(i) * 8 + 2 * size_t(k), 2);
    }
    return;
  }
  if (d.size() >= 16) {
    swapField(d, 0, 4);
    swapField(d, 4, 4);
    swapField(d, 8, 4);
    swapField(d, 12, 2);
    swapField(d, 14, 2);
  }
  if (mediaType == TimeCodeMediaType && d.size() >= 32) {
    swapField(d, 16, 4);  // reserved
    swapField(d, 20, 4);  // flags
    swapField(d, 24, 4);  // time scale
    swapField(d, 28, 4);  // frame duration
  }
#endif
}

// ---------------------------------------------------------------- native decoding

// A decoded frame before it meets the destination picture: either 8-bit
// ARGB (bytes A R G B) or 16-bit RGBA in host order.
struct Frame {
  int width = 0, height = 0;
  bool wide = false;
  bool drawn = false;          // 8-bit pixels went straight into the caller's picture
  std::vector<UInt8> argb;     // width x height x 4
  std::vector<UInt16> rgba16;  // width x height x 4
};

// The caller's 32-bit picture when a frame of exactly width x height is drawn
// 1:1 at its top left corner: 8-bit frames are then decoded into its rows
// with no frame buffer between.
struct DirectTarget {
  UInt8* base = nullptr;
  size_t rowBytes = 0;
  int width = 0, height = 0;
};

// Where the ARGB32 pixels of a w x h frame go: the caller's picture when it
// takes the frame 1:1, else the frame's own buffer.
UInt8* argbOut(Frame* f, const DirectTarget* t, int w, int h, size_t* rowBytes) {
  if (t && t->base && t->width == w && t->height == h) {
    f->drawn = true;
    *rowBytes = t->rowBytes;
    return t->base;
  }
  f->drawn = false;
  f->argb.resize(size_t(w) * size_t(h) * 4);
  *rowBytes = size_t(w) * 4;
  return f->argb.data();
}

Boolean nativeCodec(CodecType c) {
  switch (c) {
    case FOUR_CHAR_CODE("raw "): case FOUR_CHAR_CODE("b16g"): case FOUR_CHAR_CODE("b32a"):
    case FOUR_CHAR_CODE("b48r"): case FOUR_CHAR_CODE("b64a"): case FOUR_CHAR_CODE("yuv2"):
    case FOUR_CHAR_CODE("2vuy"): case FOUR_CHAR_CODE("v308"): case FOUR_CHAR_CODE("BGGR"):
      return 1;
    default:
      return 0;
  }
}

// Raw Bayer frames are decoded by the decompressor registered for 'BGGR'
// (the ORX_BAYER component) through a decompression sequence: a movie keeps
// one for its frames (`cache`); a lone frame (no cache) opens one for itself.
// 8-bit frames come back as ARGB, 16-bit ones through 'b48r', whose
// big-endian samples turn to host order here.
OSErr decodeBayer(const UInt8* data, size_t size, const ImageDescription& d, Frame* f,
                  SkyloomDecompressSequence* cache, const DirectTarget* target) {
  if (!SkyloomCanDecompress(FOUR_CHAR_CODE("BGGR"))) return noCodecErr;
  if (d.depth != 8 && d.depth != 16) return cDepthErr;
  const bool sixteen = d.depth == 16;
  const size_t n = size_t(d.width) * size_t(d.height);
  // The recorder leaves the description's data size 0: the sample's size
  // stands for it. The bytes a sample must agree with the depth.
  ImageDescription desc = d;
  if (desc.dataSize <= 0) desc.dataSize = SInt32(std::min<size_t>(size, 0x7FFFFFFF));
  // The sample must hold the frame before a frame of the description's size
  // is allocated.
  if (size_t(desc.dataSize) / n != (sixteen ? 2u : 1u) || size < n * (sixteen ? 2u : 1u)) return codecBadDataErr;
  SkyloomDecompressSequence own = nullptr;
  SkyloomDecompressSequence& seq = cache ? *cache : own;
  if (!seq) {
    OSErr err = SkyloomOpenDecompressSequence(FOUR_CHAR_CODE("BGGR"), &seq);
    if (err != noErr) return err;
  }
  struct Closer {
    SkyloomDecompressSequence s;
    ~Closer() { SkyloomCloseDecompressSequence(s); }
  } closer{own};
  thread_local std::vector<UInt8> b48r;
  PixMap pm{};
  pm.bounds = Rect{0, 0, d.height, d.width};
  if (sixteen) {
    b48r.resize(n * 6);
    pm.baseAddr = reinterpret_cast<Ptr>(b48r.data());
    pm.rowBytes = SInt32(d.width) * 6;
    pm.pixelFormat = k48RGBPixelFormat;
    pm.pixelSize = 48;
  } else {
    // The decompressor takes its output depth from rowBytes / width: rows
    // padded past that go through the frame buffer.
    const DirectTarget* t = target && target->rowBytes / size_t(d.width) == 4 ? target : nullptr;
    size_t rowBytes = 0;
    pm.baseAddr = reinterpret_cast<Ptr>(argbOut(f, t, d.width, d.height, &rowBytes));
    pm.rowBytes = SInt32(rowBytes);
    pm.pixelFormat = k32ARGBPixelFormat;
    pm.pixelSize = 32;
  }
  ImageDescription* descPtr = &desc;
  OSErr err = SkyloomDecompressFrame(seq, &descPtr, reinterpret_cast<Ptr>(const_cast<UInt8*>(data)),
                                     SInt32(std::min<size_t>(size, 0x7FFFFFFF)), &pm, &pm.bounds);
  if (err != noErr) return err;
  f->wide = sixteen;
  if (sixteen) {
    f->drawn = false;
    f->rgba16.resize(n * 4);
    for (size_t i = 0; i < n; ++i) {
      const UInt8* px = &b48r[6 * i];
      f->rgba16[4 * i] = be16(px);
      f->rgba16[4 * i + 1] = be16(px + 2);
      f->rgba16[4 * i + 2] = be16(px + 4);
      f->rgba16[4 * i + 3] = 0xFFFF;
    }
  }
  return noErr;
}

// Raw Bayer follows the description's spatial quality, not the accuracy asked.
// 8-bit frames go into `target` when it takes them 1:1 (f->drawn says so).
OSErr decodeNative(const UInt8* data, size_t size, const ImageDescription& d, const std::vector<UInt8>& descBytes,
                   CodecQ, Frame* f, SkyloomDecompressSequence* bayerCache = nullptr,
                   const DirectTarget* target = nullptr) {
  const int w = d.width, h = d.height;
  if (w <= 0 || h <= 0) return badImageDescription;
  const size_t n = size_t(w) * size_t(h);
  f->width = w;
  f->height = h;
  f->drawn = false;
  size_t rb = 0;
  auto need = [&](size_t bytes) { return size >= bytes; };
  switch (d.cType) {
    case FOUR_CHAR_CODE("raw "): {
      // The sample must hold the frame before a frame of the description's
      // size is allocated: a damaged description may claim any size.
      const size_t bytesPerPixel = d.depth == 8 || d.depth == 40 ? 1 : d.depth == 24 ? 3 : d.depth == 32 ? 4 : 0;
      if (bytesPerPixel == 0) return noCodecErr;
      if (!need(n * bytesPerPixel)) return codecBadDataErr;
      f->wide = false;
      UInt8* o = argbOut(f, target, w, h, &rb);
      if (bytesPerPixel == 1) {
        UInt8 lut[256][3];
        for (int i = 0; i < 256; ++i) lut[i][0] = lut[i][1] = lut[i][2] = UInt8(i);
        if (d.depth == 8 && d.clutID == 0 && descBytes.size() >= 86 + 8) {
          SInt16 ctSize;
          std::memcpy(&ctSize, &descBytes[92], 2);
          for (int i = 0; i <= ctSize && i < 256 && 94 + size_t(i) * 8 + 8 <= descBytes.size(); ++i) {
            ColorSpec cs;
            std::memcpy(&cs, &descBytes[94 + size_t(i) * 8], 8);
            int index = (cs.value >= 0 && cs.value < 256) ? cs.value : i;
            lut[index][0] = UInt8(cs.rgb.red >> 8);
            lut[index][1] = UInt8(cs.rgb.green >> 8);
            lut[index][2] = UInt8(cs.rgb.blue >> 8);
          }
        }
        bool grey = true;
        for (int i = 0; i < 256 && grey; ++i) grey = lut[i][0] == i && lut[i][1] == i && lut[i][2] == i;
        if (grey) {
          // A grey palette is the identity: the Mono8 kernel's bytes.
          Mono8ToARGB32(data, o, UInt32(n), UInt32(w), UInt32(rb), 0, 0);
        } else {
          for (int y = 0; y < h; ++y) {
            const UInt8* s = data + size_t(y) * size_t(w);
            UInt8* row = o + size_t(y) * rb;
            for (int x = 0; x < w; ++x) {
              row[4 * x] = 0xFF;
              row[4 * x + 1] = lut[s[x]][0];
              row[4 * x + 2] = lut[s[x]][1];
              row[4 * x + 3] = lut[s[x]][2];
            }
          }
        }
      } else if (bytesPerPixel == 3) {
        RGB24ToARGB32(data, o, UInt32(n * 3), UInt32(w), UInt32(rb), 0, 0);
      } else {
        for (int y = 0; y < h; ++y) std::memcpy(o + size_t(y) * rb, data + size_t(y) * size_t(w) * 4, size_t(w) * 4);
      }
      return noErr;
    }
    case FOUR_CHAR_CODE("2vuy"):
    case FOUR_CHAR_CODE("yuv2"): {
      if (w % 2 || !need(n * 2)) return codecBadDataErr;
      f->wide = false;
      thread_local std::vector<UInt8> uyvy;
      uyvy.resize(n * 2);
      if (d.cType == FOUR_CHAR_CODE("yuv2")) {
        for (size_t i = 0; i + 3 < n * 2; i += 4) {  // Y0 U Y1 V, chroma signed
          uyvy[i] = UInt8(data[i + 1] ^ 0x80);
          uyvy[i + 1] = data[i];
          uyvy[i + 2] = UInt8(data[i + 3] ^ 0x80);
          uyvy[i + 3] = data[i + 2];
        }
      } else {
        std::memcpy(uyvy.data(), data, n * 2);
      }
      UInt8* o = argbOut(f, target, w, h, &rb);
      YUV422ToARGB32(uyvy.data(), o, UInt32(n * 2), UInt32(w), UInt32(rb), 0, 0);
      return noErr;
    }
    case FOUR_CHAR_CODE("v308"): {
      if (!need(n * 3)) return codecBadDataErr;
      f->wide = false;
      UInt8* o = argbOut(f, target, w, h, &rb);
      YUV444ToARGB32(data, o, UInt32(n * 3), UInt32(w), UInt32(rb), 0, 0);
      return noErr;
    }
    case FOUR_CHAR_CODE("b16g"):
    case FOUR_CHAR_CODE("b32a"):
    case FOUR_CHAR_CODE("b48r"):
    case FOUR_CHAR_CODE("b64a"): {
      const size_t per = d.cType == FOUR_CHAR_CODE("b16g") ? 1 : d.cType == FOUR_CHAR_CODE("b32a") ? 2
                         : d.cType == FOUR_CHAR_CODE("b48r") ? 3 : 4;
      if (!need(n * per * 2)) return codecBadDataErr;
      f->wide = true;
      f->rgba16.resize(n * 4);
      UInt16* o = f->rgba16.data();
      for (size_t i = 0; i < n; ++i) {
        const UInt8* p = data + i * per * 2;
        UInt16 r, g, b, a = 0xFFFF;
        if (per == 1) {
          r = g = b = be16(p);
        } else if (per == 2) {
          a = be16(p);
          r = g = b = be16(p + 2);
        } else if (per == 3) {
          r = be16(p);
          g = be16(p + 2);
          b = be16(p + 4);
        } else {
          a = be16(p);
          r = be16(p + 2);
          g = be16(p + 4);
          b = be16(p + 6);
        }
        o[4 * i] = r;
        o[4 * i + 1] = g;
        o[4 * i + 2] = b;
        o[4 * i + 3] = a;
      }
      return noErr;
    }
    case FOUR_CHAR_CODE("BGGR"):
      return decodeBayer(data, size, d, f, bayerCache, target);
    default:
      return noCodecErr;
  }
}

// ---------------------------------------------------------------- drawing a frame

// One source pixel at 16 bits a channel (A, R, G, B).
inline void sample16(const Frame& f, int x, int y, UInt32 out[4]) {
  const size_t i = size_t(y) * f.width + x;
  if (f.wide) {
    out[0] = f.rgba16[4 * i + 3];
    out[1] = f.rgba16[4 * i];
    out[2] = f.rgba16[4 * i + 1];
    out[3] = f.rgba16[4 * i + 2];
  } else {
    for (int c = 0; c < 4; ++c) out[c] = f.argb[4 * i + c] * 257u;
  }
}

void putPixel(const PixMap& p, UInt8* row, long x, const UInt32 v[4]) {
  switch (p.pixelFormat) {
    case k32ARGBPixelFormat:
      for (int c = 0; c < 4; ++c) row[4 * x + c] = UInt8(v[c] >> 8);
      break;
    case k24RGBPixelFormat:
      for (int c = 0; c < 3; ++c) row[3 * x + c] = UInt8(v[c + 1] >> 8);
      break;
    case k48RGBPixelFormat: {
      UInt16 o[3] = {UInt16(v[1]), UInt16(v[2]), UInt16(v[3])};
      std::memcpy(row + 6 * x, o, 6);
      break;
    }
    case k64ARGBPixelFormat: {
      UInt16 o[4] = {UInt16(v[0]), UInt16(v[1]), UInt16(v[2]), UInt16(v[3])};
      std::memcpy(row + 8 * x, o, 8);
      break;
    }
    case k16GrayPixelFormat: {
      UInt16 g = UInt16((306u * v[1] + 601u * v[2] + 117u * v[3]) >> 10);
      std::memcpy(row + 2 * x, &g, 2);
      break;
    }
    case k8IndexedGrayPixelFormat:
      row[x] = UInt8(((306u * v[1] + 601u * v[2] + 117u * v[3]) >> 10) >> 8);
      break;
    default:
      break;
  }
}

// The source rectangle of the frame onto the destination rectangle of the
// picture; bilinear where the sizes differ.
OSErr drawFrame(const Frame& f, const Rect& src, const Rect& dstRect, const PixMap& p) {
  const long dw = long(dstRect.right) - dstRect.left, dh = long(dstRect.bottom) - dstRect.top;
  const long sw = long(src.right) - src.left, sh = long(src.bottom) - src.top;
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return paramErr;
  if (src.left < 0 || src.top < 0 || src.right > f.width || src.bottom > f.height) return paramErr;
  const long pw = long(p.bounds.right) - p.bounds.left, ph = long(p.bounds.bottom) - p.bounds.top;
  const bool same = dw == sw && dh == sh;
  // The common case: an 8-bit frame straight into a 32-bit picture.
  if (same && !f.wide && p.pixelFormat == k32ARGBPixelFormat && dstRect.left == 0 && dstRect.top == 0 && dw <= pw &&
      dh <= ph) {
    for (long y = 0; y < dh; ++y)
      std::memcpy(reinterpret_cast<UInt8*>(p.baseAddr) + size_t(y) * size_t(p.rowBytes),
                  &f.argb[(size_t(y + src.top) * f.width + size_t(src.left)) * 4], size_t(dw) * 4);
    return noErr;
  }
  for (long y = 0; y < dh; ++y) {
    const long py = dstRect.top - p.bounds.top + y;
    if (py < 0 || py >= ph) continue;
    UInt8* row = reinterpret_cast<UInt8*>(p.baseAddr) + size_t(py) * size_t(p.rowBytes);
    const double fy = same ? double(y) : (y + 0.5) * double(sh) / double(dh) - 0.5;
    for (long x = 0; x < dw; ++x) {
      const long px = dstRect.left - p.bounds.left + x;
      if (px < 0 || px >= pw) continue;
      UInt32 v[4];
      if (same) {
        sample16(f, int(src.left + x), int(src.top + y), v);
      } else {
        const double fx = (x + 0.5) * double(sw) / double(dw) - 0.5;
        const double cx = std::clamp(fx, 0.0, double(sw - 1)), cy = std::clamp(fy, 0.0, double(sh - 1));
        const int x0 = int(cx), y0 = int(cy);
        const int x1 = std::min<int>(x0 + 1, int(sw - 1)), y1 = std::min<int>(y0 + 1, int(sh - 1));
        const double ax = cx - x0, ay = cy - y0;
        UInt32 a[4], b[4], c[4], d[4];
        sample16(f, int(src.left + x0), int(src.top + y0), a);
        sample16(f, int(src.left + x1), int(src.top + y0), b);
        sample16(f, int(src.left + x0), int(src.top + y1), c);
        sample16(f, int(src.left + x1), int(src.top + y1), d);
        for (int k = 0; k < 4; ++k) {
          double top = a[k] + (double(b[k]) - a[k]) * ax, bottom = c[k] + (double(d[k]) - c[k]) * ax;
          v[k] = UInt32(std::lround(top + (bottom - top) * ay));
        }
      }
      putPixel(p, row, px, v);
    }
  }
  return noErr;
}

// ---------------------------------------------------------------- FFmpeg

// Decodes frames of one stream of a file through libavformat/libavcodec,
// keeping its place so that reading forward frame by frame stays cheap.
struct FFDecoder {
  AVFormatContext* fmt = nullptr;
  AVCodecContext* codec = nullptr;
  SwsContext* sws = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  int stream = -1;
  SInt64 lastPts = INT64_MIN;  // of the frame in `frame`
  bool haveFrame = false;
  ~FFDecoder() {
    if (sws) sws_freeContext(sws);
    if (frame) av_frame_free(&frame);
    if (packet) av_packet_free(&packet);
    if (codec) avcodec_free_context(&codec);
    if (fmt) avformat_close_input(&fmt);
  }
  bool open(const std::string& path, int wantStream) {
    av_log_set_level(AV_LOG_QUIET);
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(fmt, nullptr) < 0) return false;
    stream = wantStream >= 0 ? wantStream : av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0 || stream >= int(fmt->nb_streams)) return false;
    const AVCodecParameters* par = fmt->streams[stream]->codecpar;
    const AVCodec* dec = avcodec_find_decoder(par->codec_id);
    if (!dec) return false;
    codec = avcodec_alloc_context3(dec);
    if (!codec || avcodec_parameters_to_context(codec, par) < 0) return false;
    codec->thread_count = 1;
    if (avcodec_open2(codec, dec, nullptr) < 0) return false;
    frame = av_frame_alloc();
    packet = av_packet_alloc();
    return frame && packet;
  }
  // Decodes the next frame in order; false at the end.
  bool next() {
    for (;;) {
      int r = avcodec_receive_frame(codec, frame);
      if (r == 0) {
        lastPts = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
        haveFrame = true;
        return true;
      }
      if (r == AVERROR_EOF) return false;
      if (r != AVERROR(EAGAIN)) return false;
      int rr;
      while ((rr = av_read_frame(fmt, packet)) >= 0 && packet->stream_index != stream) av_packet_unref(packet);
      if (rr < 0) {
        avcodec_send_packet(codec, nullptr);
        continue;
      }
      avcodec_send_packet(codec, packet);
      av_packet_unref(packet);
    }
  }
  // The frame shown at pts (stream time base): the last frame starting at or before it.
  bool frameAt(SInt64 pts) {
    if (!haveFrame || pts < lastPts || pts > lastPts + 10 * std::max<SInt64>(1, frameDuration())) {
      av_seek_frame(fmt, stream, pts, AVSEEK_FLAG_BACKWARD);
      avcodec_flush_buffers(codec);
      haveFrame = false;
      lastPts = INT64_MIN;
      if (!next()) return false;
    }
    // Step forward while the next frame still starts at or before pts.
    while (true) {
      if (lastPts >= pts) return true;
      AVFrame* keep = av_frame_clone(frame);
      SInt64 keepPts = lastPts;
      if (!next()) {
        if (keep) {
          av_frame_unref(frame);
          av_frame_move_ref(frame, keep);
          av_frame_free(&keep);
          lastPts = keepPts;
          haveFrame = true;
          return true;
        }
        return false;
      }
      if (lastPts > pts && keep) {
        av_frame_unref(frame);
        av_frame_move_ref(frame, keep);
        av_frame_free(&keep);
        lastPts = keepPts;
        // The decoder has moved one frame on; the next call reseeks if needed.
        haveFrame = true;
        return true;
      }
      if (keep) av_frame_free(&keep);
    }
  }
  SInt64 frameDuration() const {
    const AVStream* s = fmt->streams[stream];
    if (s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0)
      return av_rescale_q(1, av_inv_q(s->avg_frame_rate), s->time_base);
    return 1;
  }
  // Converts the current frame to the decoder's frame form.
  bool toFrame(Frame* f) {
    if (!haveFrame) return false;
    const bool wide = av_pix_fmt_desc_get(AVPixelFormat(frame->format)) &&
                      av_pix_fmt_desc_get(AVPixelFormat(frame->format))->comp[0].depth > 8;
    f->width = frame->width;
    f->height = frame->height;
    f->wide = wide;
    f->drawn = false;
    AVPixelFormat out = wide ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_ARGB;
    sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format), frame->width,
                               frame->height, out, SWS_POINT, nullptr, nullptr, nullptr);
    if (!sws) return false;
    UInt8* dst[4] = {nullptr};
    int stride[4] = {0};
    if (wide) {
      f->rgba16.resize(size_t(frame->width) * frame->height * 4);
      dst[0] = reinterpret_cast<UInt8*>(f->rgba16.data());
      stride[0] = frame->width * 8;
    } else {
      f->argb.resize(size_t(frame->width) * frame->height * 4);
      dst[0] = f->argb.data();
      stride[0] = frame->width * 4;
    }
    sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
    return true;
  }
};

}  // namespace

// ---------------------------------------------------------------- the objects

struct MediaRecord {
  TrackRecord* track = nullptr;
};

struct TrackRecord {
  MovieRecord* movie = nullptr;
  size_t index = 0;
  MediaRecord media;
};

// What a track gains in memory before the movie is written back.
struct TrackExtra {
  std::vector<std::vector<UInt8>> pendingSamples;  // appended at the next write
  MatrixRecord matrix{};
  bool matrixSet = false;
  SInt32 tcFlags = 0;
  TCTextOptions text{};
  bool created = false;  // made in memory: its atom is built, not copied
};

namespace {
// Samples added in memory and not yet written, over every movie.
std::atomic<long> gPendingSamples{0};
}  // namespace

struct MovieRecord {
  std::string path;
  // Reused from frame to frame: the sample read from the file and the frame
  // decoded from it.
  std::vector<UInt8> sample;
  Frame frame;
  std::vector<TrackExtra> extras;
  int fd = -1;
  MovieModel model;
  bool viaFFmpeg = false;  // tracks and samples from FFmpeg's index, not our parser
  std::vector<std::unique_ptr<TrackRecord>> tracks;
  std::vector<std::vector<std::vector<UInt8>>> hostDescriptions;  // per track, per description
  TimeValue time = 0;
  GWorldPtr gworld = nullptr;
  Rect box{0, 0, 0, 0};
  std::map<size_t, std::unique_ptr<FFDecoder>> decoders;  // per track index
  SkyloomDecompressSequence bayer = nullptr;  // opened at the first raw Bayer frame
  // A movie made in a new file: samples are written at storageEnd as they
  // come, inside a data atom left open-ended (mdatOpen) until the movie atom
  // is written.
  bool storage = false;
  bool mdatOpen = false;
  UInt64 storageEnd = 0;
  UInt64 flushedTo = 0;  // written samples up to here have left the page cache
  Boolean active = false;
  MovieProgressUPP progressProc = nullptr;
  long progressRefCon = 0;
  ~MovieRecord() {
    long pending = 0;
    for (const auto& x : extras) pending += long(x.pendingSamples.size());
    gPendingSamples.fetch_sub(pending);
    if (fd >= 0) ::close(fd);
    SkyloomCloseDecompressSequence(bayer);
  }
};

namespace {

std::mutex gRefLock;
std::map<short, std::string> gOpenFiles;
short gNextRef = 1;

MovieTrackModel* modelOf(Track t) { return t ? &t->movie->model.tracks[t->index] : nullptr; }

// Builds the model of a non-QuickTime file from FFmpeg's packet index.
bool modelFromFFmpeg(const std::string& path, MovieModel* m) {
  av_log_set_level(AV_LOG_QUIET);
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> holder(fmt, [](AVFormatContext* f) {
    avformat_close_input(&f);
  });
  if (avformat_find_stream_info(fmt, nullptr) < 0) return false;
  *m = MovieModel{};
  m->timeScale = 600;
  for (unsigned s = 0; s < fmt->nb_streams; ++s) {
    const AVStream* st = fmt->streams[s];
    MovieTrackModel t;
    t.trackID = s + 1;
    t.enabled = 1;
    t.handlerType = st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO   ? VideoMediaType
                    : st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? SoundMediaType
                                                                     : FOUR_CHAR_CODE("data");
    t.mediaTimeScale = st->time_base.num == 1 ? UInt32(st->time_base.den) : 90000;
    t.width = Long2Fix(st->codecpar->width);
    t.height = Long2Fix(st->codecpar->height);
    // A video description: the codec's four-character tag, size and depth 24.
    std::vector<UInt8> d(86, 0);
    auto put32 = [&](size_t o, UInt32 v) { for (int k = 0; k < 4; ++k) d[o + k] = UInt8(v >> (24 - 8 * k)); };
    auto put16 = [&](size_t o, UInt16 v) { d[o] = UInt8(v >> 8); d[o + 1] = UInt8(v); };
    put32(0, 86);
    UInt32 tag = st->codecpar->codec_tag;
    UInt32 fourcc = tag ? ((tag & 0xFF) << 24) | ((tag >> 8 & 0xFF) << 16) | ((tag >> 16 & 0xFF) << 8) | (tag >> 24)
                        : FOUR_CHAR_CODE("ffmp");
    put32(4, fourcc);
    put16(16, 1);
    put32(20, FOUR_CHAR_CODE("appl"));
    put32(28, codecNormalQuality);
    put16(32, UInt16(st->codecpar->width));
    put16(34, UInt16(st->codecpar->height));
    put32(36, 0x00480000);
    put32(40, 0x00480000);
    put16(48, 1);
    put16(82, 24);
    put16(84, 0xFFFF);
    t.descriptions.push_back(d);
    m->tracks.push_back(std::move(t));
  }
  // The packet index: where each sample of each stream lies and when it starts.
  AVPacket* pkt = av_packet_alloc();
  if (!pkt) return false;
  while (av_read_frame(fmt, pkt) >= 0) {
    MovieTrackModel& t = m->tracks[size_t(pkt->stream_index)];
    const AVStream* st = fmt->streams[pkt->stream_index];
    SInt64 pts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (pts == AV_NOPTS_VALUE) pts = t.sampleTime.empty() ? 0 : SInt64(t.sampleTime.back()) + 1;
    SInt64 start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    UInt64 mediaTime = UInt64(std::max<SInt64>(0, av_rescale_q(pts - start, st->time_base, AVRational{1, SInt32(t.mediaTimeScale)})));
    t.sampleOffset.push_back(pkt->pos >= 0 ? UInt64(pkt->pos) : 0);
    t.sampleSize.push_back(UInt32(pkt->size));
    t.sampleTime.push_back(mediaTime);
    t.sampleDescription.push_back(1);
    // Sync flags ride in syncSamples as 0/1 per packet until the samples are put in order.
    t.syncSamples.push_back((pkt->flags & AV_PKT_FLAG_KEY) ? 1 : 0);
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  for (MovieTrackModel& t : m->tracks) {
    // Presentation order, durations from the gaps.
    std::vector<size_t> order(t.sampleTime.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return t.sampleTime[a] < t.sampleTime[b]; });
    auto permute = [&](auto& v) {
      auto copy = v;
      for (size_t i = 0; i < order.size(); ++i) v[i] = copy[order[i]];
    };
    permute(t.sampleOffset);
    permute(t.sampleSize);
    permute(t.sampleTime);
    permute(t.sampleDescription);
    permute(t.syncSamples);
    std::vector<UInt32> sync;
    for (size_t i = 0; i < t.syncSamples.size(); ++i)
      if (t.syncSamples[i]) sync.push_back(UInt32(i + 1));
    t.syncSamples = sync.size() == t.sampleTime.size() ? std::vector<UInt32>() : sync;
    UInt32 last = 1;
    for (size_t i = 0; i < t.sampleTime.size(); ++i) {
      UInt32 dur = i + 1 < t.sampleTime.size() ? UInt32(t.sampleTime[i + 1] - t.sampleTime[i]) : last;
      if (dur == 0) dur = 1;
      last = dur;
      if (!t.timeToSample.empty() && t.timeToSample.back().duration == dur) t.timeToSample.back().count++;
      else t.timeToSample.push_back({1, dur});
    }
    if (!t.sampleTime.empty()) t.mediaDuration = t.sampleTime.back() + t.timeToSample.back().duration;
    t.trackDuration = t.mediaTimeScale ? UInt64(double(t.mediaDuration) * 600.0 / t.mediaTimeScale + 0.5) : 0;
    m->duration = std::max(m->duration, t.trackDuration);
  }
  return true;
}

OSErr openMovie(const std::string& path, Movie* out) {
  if (!out) return setError(paramErr);
  *out = nullptr;
  auto movie = std::make_unique<MovieRecord>();
  movie->path = path;
  OSErr err = SkyloomReadMovieFile(path, &movie->model);
  if (err == OSErr(fnfErr) || err == -54 || err == OSErr(ioErr)) return setError(err);
  if (err != noErr) {
    if (!modelFromFFmpeg(path, &movie->model)) return setError(err == -2048 ? OSErr(invalidMovie) : err);
    movie->viaFFmpeg = true;
  }
  movie->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (movie->fd < 0) return setError(fnfErr);
  for (size_t i = 0; i < movie->model.tracks.size(); ++i) {
    auto t = std::make_unique<TrackRecord>();
    t->movie = movie.get();
    t->index = i;
    t->media.track = t.get();
    movie->tracks.push_back(std::move(t));
    std::vector<std::vector<UInt8>> hosts;
    for (const auto& d : movie->model.tracks[i].descriptions) {
      hosts.push_back(d);
      convertDescription(hosts.back(), movie->model.tracks[i].handlerType, true);
    }
    movie->hostDescriptions.push_back(std::move(hosts));
    movie->extras.emplace_back();
  }
  // The movie box: the first video track's size.
  for (const auto& t : movie->model.tracks) {
    if (t.handlerType == VideoMediaType && t.width > 0 && t.height > 0) {
      movie->box = Rect{0, 0, SInt16(Fix2Long(t.height)), SInt16(Fix2Long(t.width))};
      break;
    }
  }
  *out = movie.release();
  return setError(noErr);
}

// The frame of a track at a media time, decoded.
OSErr decodeTrackFrame(Movie m, size_t trackIndex, SInt64 mediaTime, CodecQ accuracyOverride, Frame* f,
                       const DirectTarget* target = nullptr) {
  const MovieTrackModel& t = m->model.tracks[trackIndex];
  long s = SkyloomSampleAtMediaTime(t, UInt64(std::max<SInt64>(0, mediaTime)));
  if (s < 0) return invalidTime;
  const std::vector<UInt8>& host = m->hostDescriptions[trackIndex][t.sampleDescription[size_t(s)] - 1];
  ImageDescription d;
  std::memcpy(&d, host.data(), std::min(host.size(), sizeof d));
  if (!m->viaFFmpeg && nativeCodec(d.cType)) {
    std::vector<UInt8>& data = m->sample;
    data.resize(t.sampleSize[size_t(s)]);
    if (!data.empty() && pread(m->fd, data.data(), data.size(), off_t(t.sampleOffset[size_t(s)])) != ssize_t(data.size()))
      return ioErr;
    return decodeNative(data.data(), data.size(), d, host, accuracyOverride ? accuracyOverride : d.spatialQuality, f,
                        &m->bayer, target);
  }
  auto& dec = m->decoders[trackIndex];
  if (!dec) {
    dec = std::make_unique<FFDecoder>();
    if (!dec->open(m->path, int(trackIndex))) {
      dec.reset();
      return noCodecErr;
    }
  }
  // Media time to the stream's own time base.
  const AVStream* st = dec->fmt->streams[dec->stream];
  SInt64 start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  SInt64 pts = start + av_rescale_q(SInt64(t.sampleTime[size_t(s)]), AVRational{1, SInt32(t.mediaTimeScale)}, st->time_base);
  if (!dec->frameAt(pts) || !dec->toFrame(f)) return codecErr;
  return noErr;
}

}  // namespace

// ---------------------------------------------------------------- public calls

namespace {
std::atomic<long> gExitMoviesCalls{0};
}  // namespace

OSErr EnterMovies() { return setError(noErr); }
void ExitMovies() { ++gExitMoviesCalls; }
long SkyloomExitMoviesCount() { return gExitMoviesCalls.load(); }
OSErr GetMoviesError() { return tMoviesError; }

OSErr OpenMovieFile(const FSSpec* fileLocation, short* resRefNum, SInt8) {
  if (!fileLocation || !resRefNum) return setError(paramErr);
  FSRef ref;
  OSErr err = FSpMakeFSRef(fileLocation, &ref);
  if (err != noErr) return setError(err);
  std::string path = SkyloomFSSpecPath(fileLocation);
  if (path.empty()) return setError(fnfErr);
  std::lock_guard<std::mutex> lock(gRefLock);
  short n = gNextRef++;
  if (gNextRef <= 0) gNextRef = 1;
  gOpenFiles[n] = path;
  *resRefNum = n;
  return setError(noErr);
}

OSErr CloseMovieFile(short resRefNum) {
  std::lock_guard<std::mutex> lock(gRefLock);
  return setError(gOpenFiles.erase(resRefNum) ? OSErr(noErr) : OSErr(-51));
}

OSErr NewMovieFromFile(Movie* theMovie, short resRefNum, short* resId, StringPtr, short, Boolean* changed) {
  if (changed) *changed = 0;
  if (resId) *resId = 0;
  std::string path;
  {
    std::lock_guard<std::mutex> lock(gRefLock);
    auto it = gOpenFiles.find(resRefNum);
    if (it == gOpenFiles.end()) return setError(OSErr(-51));
    path = it->second;
  }
  return openMovie(path, theMovie);
}

OSErr NewMovieFromDataRef(Movie* m, short, short* id, Handle dataRef, OSType dataRefType) {
  if (id) *id = 0;
  std::string path = SkyloomDataReferencePath(dataRef, dataRefType);
  if (path.empty()) return setError(couldNotResolveDataRef);
  return openMovie(path, m);
}

void DisposeMovie(Movie m) { delete m; }
const char* SkyloomMoviePath(Movie m) { return m ? m->path.c_str() : ""; }

void SetMovieActive(Movie m, Boolean active) {
  if (m) m->active = active ? 1 : 0;
  setError(m ? OSErr(noErr) : OSErr(invalidMovie));
}
Boolean GetMovieActive(Movie m) { return m ? m->active : 0; }
void SetMovieProgressProc(Movie m, MovieProgressUPP p, long refcon) {
  if (!m) {
    setError(invalidMovie);
    return;
  }
  m->progressProc = p;
  m->progressRefCon = refcon;
  setError(noErr);
}
MovieProgressUPP SkyloomGetMovieProgressProc(Movie m, long* refcon) {
  if (refcon) *refcon = m ? m->progressRefCon : 0;
  return m ? m->progressProc : nullptr;
}

TimeScale GetMovieTimeScale(Movie m) { return m ? TimeScale(m->model.timeScale) : 0; }
TimeValue GetMovieDuration(Movie m) { return m ? TimeValue(std::min<UInt64>(m->model.duration, 0x7FFFFFFF)) : 0; }
void GetMovieBox(Movie m, Rect* r) {
  if (m && r) *r = m->box;
}
void SetMovieBox(Movie m, const Rect* r) {
  if (m && r) m->box = *r;
}
long GetMovieTrackCount(Movie m) { return m ? long(m->tracks.size()) : 0; }
Track GetMovieIndTrack(Movie m, long index) {
  if (!m || index < 1 || size_t(index) > m->tracks.size()) {
    setError(invalidTrack);
    return nullptr;
  }
  setError(noErr);
  return m->tracks[size_t(index - 1)].get();
}
Track GetMovieIndTrackType(Movie m, long index, OSType type, long) {
  if (!m) return nullptr;
  long seen = 0;
  for (auto& t : m->tracks)
    if (m->model.tracks[t->index].handlerType == type && ++seen == index) return t.get();
  return nullptr;
}
Boolean GetTrackEnabled(Track t) { return t ? modelOf(t)->enabled : 0; }
void SetTrackEnabled(Track t, Boolean e) {
  if (t) modelOf(t)->enabled = e ? 1 : 0;
}
Media GetTrackMedia(Track t) { return t ? &t->media : nullptr; }
Track GetMediaTrack(Media m) { return m ? m->track : nullptr; }
Movie GetTrackMovie(Track t) { return t ? t->movie : nullptr; }
long GetTrackID(Track t) { return t ? long(modelOf(t)->trackID) : 0; }
TimeValue GetTrackDuration(Track t) { return t ? TimeValue(std::min<UInt64>(modelOf(t)->trackDuration, 0x7FFFFFFF)) : 0; }

void GetMediaHandlerDescription(Media media, OSType* mediaType, Str255 creatorName, OSType* creatorManufacturer) {
  if (mediaType) *mediaType = media ? modelOf(media->track)->handlerType : 0;
  if (creatorName) creatorName[0] = 0;
  if (creatorManufacturer) *creatorManufacturer = FOUR_CHAR_CODE("appl");
}
TimeScale GetMediaTimeScale(Media media) { return media ? TimeScale(modelOf(media->track)->mediaTimeScale) : 0; }
TimeValue GetMediaDuration(Media media) {
  return media ? TimeValue(std::min<UInt64>(modelOf(media->track)->mediaDuration, 0x7FFFFFFF)) : 0;
}
long GetMediaSampleCount(Media media) { return media ? long(modelOf(media->track)->sampleSize.size()) : 0; }
long GetMediaSampleDescriptionCount(Media media) {
  return media ? long(modelOf(media->track)->descriptions.size()) : 0;
}

void GetMediaSampleDescription(Media media, long index, SampleDescriptionHandle descH) {
  if (!media || !descH) {
    setError(paramErr);
    return;
  }
  const auto& descs = media->track->movie->hostDescriptions[media->track->index];
  if (index < 1 || size_t(index) > descs.size()) {
    SetHandleSize(descH, 0);
    setError(badImageDescription);
    return;
  }
  const auto& d = descs[size_t(index - 1)];
  SetHandleSize(descH, Size(d.size()));
  if (MemError() != noErr) {
    setError(memFullErr);
    return;
  }
  std::memcpy(*descH, d.data(), d.size());
  setError(noErr);
}

namespace {
std::atomic<long> gDescriptionWrites{0};
}
long SkyloomSampleDescriptionWrites() { return gDescriptionWrites.load(); }

OSErr SetMediaSampleDescription(Media media, long index, SampleDescriptionHandle descH) {
  if (!media || !descH) return setError(paramErr);
  ++gDescriptionWrites;
  auto& hosts = media->track->movie->hostDescriptions[media->track->index];
  auto& files = modelOf(media->track)->descriptions;
  if (index < 1 || size_t(index) > hosts.size()) return setError(badImageDescription);
  Size n = GetHandleSize(descH);
  if (n < 16) return setError(paramErr);
  std::vector<UInt8> host(reinterpret_cast<UInt8*>(*descH), reinterpret_cast<UInt8*>(*descH) + n);
  std::vector<UInt8> file = host;
  convertDescription(file, modelOf(media->track)->handlerType, false);
  hosts[size_t(index - 1)] = std::move(host);
  files[size_t(index - 1)] = std::move(file);
  return setError(noErr);
}

OSErr GetMediaSample(Media media, Handle dataOut, long maxSizeToGrow, long* size, TimeValue time,
                     TimeValue* sampleTime, TimeValue* durationPerSample, SampleDescriptionHandle descH,
                     long* descIndex, long, long* numberOfSamples, short* sampleFlags) {
  if (size) *size = 0;
  if (numberOfSamples) *numberOfSamples = 0;
  if (!media) return setError(invalidMedia);
  Movie m = media->track->movie;
  const MovieTrackModel& t = *modelOf(media->track);
  if (time < 0) return setError(invalidTime);
  long s = SkyloomSampleAtMediaTime(t, UInt64(time));
  // Samples added in memory have no bytes to read until the movie is written.
  if (s < 0 || size_t(s) >= t.sampleSize.size()) return setError(invalidTime);
  const size_t i = size_t(s);
  const UInt32 bytes = t.sampleSize[i];
  if (sampleTime) *sampleTime = TimeValue(t.sampleTime[i]);
  if (durationPerSample) {
    UInt64 next = i + 1 < t.sampleTime.size() ? t.sampleTime[i + 1] : t.sampleTime[i] + (t.timeToSample.empty() ? 0 : t.timeToSample.back().duration);
    *durationPerSample = TimeValue(next - t.sampleTime[i]);
  }
  if (descIndex) *descIndex = long(t.sampleDescription[i]);
  if (sampleFlags) {
    bool sync = t.syncSamples.empty() ||
                std::binary_search(t.syncSamples.begin(), t.syncSamples.end(), UInt32(i + 1));
    *sampleFlags = sync ? short(0) : short(mediaSampleNotSync);
  }
  if (numberOfSamples) *numberOfSamples = 1;
  if (descH) GetMediaSampleDescription(media, long(t.sampleDescription[i]), descH);
  if (dataOut) {
    // Read what fits: a limit smaller than the sample gives the leading
    // bytes and end-of-file, as a short read does.
    UInt32 want = bytes;
    OSErr status = noErr;
    if (maxSizeToGrow > 0 && UInt32(maxSizeToGrow) < bytes) {
      want = UInt32(maxSizeToGrow);
      status = OSErr(eofErr);
    }
    SetHandleSize(dataOut, Size(want));
    if (MemError() != noErr) return setError(memFullErr);
    if (want && pread(m->fd, *dataOut, want, off_t(t.sampleOffset[i])) != ssize_t(want)) return setError(ioErr);
    if (size) *size = long(want);
    return setError(status);
  }
  if (size) *size = long(bytes);
  return setError(noErr);
}

TimeValue TrackTimeToMediaTime(TimeValue value, Track t) {
  if (!t || value < 0) return -1;
  SInt64 mt = SkyloomMediaTimeForMovieTime(t->movie->model, *modelOf(t), UInt64(value));
  return mt < 0 ? -1 : TimeValue(std::min<SInt64>(mt, 0x7FFFFFFF));
}

void GetMediaNextInterestingTime(Media media, short flags, TimeValue time, Fixed rate, TimeValue* interestingTime,
                                 TimeValue* interestingDuration) {
  if (interestingTime) *interestingTime = -1;
  if (interestingDuration) *interestingDuration = 0;
  if (!media) {
    setError(invalidMedia);
    return;
  }
  setError(noErr);
  if (!(flags & nextTimeMediaSample) || rate == 0) return;
  const MovieTrackModel& t = *modelOf(media->track);
  const auto& times = t.sampleTime;
  const UInt64 at = UInt64(std::max<TimeValue>(time, 0));
  const bool edgeOK = flags & nextTimeEdgeOK;
  long i = -1;
  if (rate > 0) {
    // The first sample starting after the time (or at it, with the edge).
    auto it = edgeOK ? std::lower_bound(times.begin(), times.end(), at) : std::upper_bound(times.begin(), times.end(), at);
    if (time < 0) it = times.begin();
    if (it != times.end()) i = long(it - times.begin());
  } else if (time >= 0) {
    // The last sample starting before the time (or at it, with the edge).
    auto it = edgeOK ? std::upper_bound(times.begin(), times.end(), at) : std::lower_bound(times.begin(), times.end(), at);
    if (it != times.begin()) i = long(it - times.begin()) - 1;
  }
  if (i < 0) return;
  const UInt64 next = size_t(i) + 1 < times.size() ? times[size_t(i) + 1] : t.mediaDuration;
  if (interestingTime) *interestingTime = TimeValue(std::min<UInt64>(times[size_t(i)], 0x7FFFFFFF));
  if (interestingDuration)
    *interestingDuration = TimeValue(std::min<UInt64>(next > times[size_t(i)] ? next - times[size_t(i)] : 0, 0x7FFFFFFF));
}

void SetMovieGWorld(Movie m, GWorldPtr port, GDHandle) {
  if (m) m->gworld = port;
}
void GetMovieGWorld(Movie m, GWorldPtr* port, GDHandle* gdh) {
  if (port) *port = m ? m->gworld : nullptr;
  if (gdh) *gdh = nullptr;
}
void SetMovieTimeValue(Movie m, TimeValue t) {
  if (m) m->time = t < 0 ? 0 : t;
}
TimeValue GetMovieTime(Movie m, void*) { return m ? m->time : 0; }
OSErr UpdateMovie(Movie m) { return setError(m ? OSErr(noErr) : OSErr(invalidMovie)); }

void MoviesTask(Movie m, long) {
  if (!m || !m->gworld) return;
  PixMapHandle pm = GetGWorldPixMap(m->gworld);
  if (!pm || !*pm || !(*pm)->baseAddr) return;
  for (auto& tr : m->tracks) {
    const MovieTrackModel& t = m->model.tracks[tr->index];
    if (!t.enabled || t.handlerType != VideoMediaType) continue;
    SInt64 mediaTime = SkyloomMediaTimeForMovieTime(m->model, t, UInt64(m->time));
    if (mediaTime < 0) continue;
    Frame& f = m->frame;
    // A movie box at the picture's origin that the picture holds whole takes
    // a frame of the box's size 1:1: 8-bit frames are decoded into its rows.
    const PixMap& p = **pm;
    const Rect box = m->box;
    DirectTarget direct;
    if (p.pixelFormat == k32ARGBPixelFormat && p.bounds.left == 0 && p.bounds.top == 0 && box.left == 0 &&
        box.top == 0 && box.right > 0 && box.bottom > 0 && box.right <= p.bounds.right &&
        box.bottom <= p.bounds.bottom && p.rowBytes >= SInt32(box.right) * 4) {
      direct = DirectTarget{reinterpret_cast<UInt8*>(p.baseAddr), size_t(p.rowBytes), box.right, box.bottom};
    }
    OSErr err = decodeTrackFrame(m, tr->index, mediaTime, 0, &f, &direct);
    if (err != noErr) {
      setError(err);
      continue;
    }
    if (f.drawn) {
      setError(noErr);
      return;
    }
    Rect src{0, 0, SInt16(f.height), SInt16(f.width)};
    Rect dst = m->box;
    if (dst.right <= dst.left || dst.bottom <= dst.top) dst = src;
    setError(drawFrame(f, src, dst, **pm));
    return;  // the first enabled video track is the picture
  }
}

void GetMovieNextInterestingTime(Movie m, short flags, short numMediaTypes, const OSType* types, TimeValue time,
                                 Fixed rate, TimeValue* interestingTime, TimeValue* interestingDuration) {
  if (interestingTime) *interestingTime = -1;
  if (interestingDuration) *interestingDuration = 0;
  if (!m) return;
  const bool backward = rate < 0;
  SInt64 best = -1;
  SInt64 bestDuration = 0;
  for (const MovieTrackModel& t : m->model.tracks) {
    if (!t.enabled || t.mediaTimeScale == 0 || m->model.timeScale == 0) continue;
    if (numMediaTypes > 0 && types &&
        std::find(types, types + numMediaTypes, t.handlerType) == types + numMediaTypes &&
        !(t.handlerType == VideoMediaType &&
          std::find(types, types + numMediaTypes, OSType(VisualMediaCharacteristic)) != types + numMediaTypes))
      continue;
    if (t.sampleTime.empty()) continue;
    // Sample start times in movie time (edits taken as starting at media 0).
    SInt64 mediaOffset = 0;
    if (!t.edits.empty() && t.edits[0].mediaTime > 0) mediaOffset = t.edits[0].mediaTime;
    const bool syncOnly = flags & nextTimeSyncSample;
    auto isSync = [&](size_t i) {
      return !syncOnly || t.syncSamples.empty() ||
             std::binary_search(t.syncSamples.begin(), t.syncSamples.end(), UInt32(i + 1));
    };
    auto movieTimeOf = [&](size_t i) -> SInt64 {
      SInt64 mt = SInt64(t.sampleTime[i]) - mediaOffset;
      return mt < 0 ? -1 : SInt64((unsigned __int128)UInt64(mt) * m->model.timeScale / t.mediaTimeScale);
    };
    // Samples are in time order: start from the one nearest the time asked.
    const SInt64 mediaAt = SInt64((unsigned __int128)UInt64(std::max<TimeValue>(time, 0)) * t.mediaTimeScale /
                                  m->model.timeScale) + mediaOffset;
    long i0 = long(std::upper_bound(t.sampleTime.begin(), t.sampleTime.end(), UInt64(std::max<SInt64>(mediaAt, 0))) -
                   t.sampleTime.begin()) - 1;
    if (i0 < 0) i0 = 0;
    auto consider = [&](size_t i) {
      SInt64 movieT = movieTimeOf(i);
      if (movieT < 0 || !isSync(i)) return false;
      bool hit = backward ? (movieT < time || ((flags & nextTimeEdgeOK) && movieT == time))
                          : (movieT > time || ((flags & nextTimeEdgeOK) && movieT == time));
      if (!hit) return false;
      if (best < 0 || (backward ? movieT > best : movieT < best)) {
        best = movieT;
        UInt64 next = i + 1 < t.sampleTime.size() ? t.sampleTime[i + 1] : t.mediaDuration;
        bestDuration = SInt64((unsigned __int128)(next - t.sampleTime[i]) * m->model.timeScale / t.mediaTimeScale);
      }
      return true;
    };
    if (backward) {
      for (long i = std::min<long>(i0 + 1, long(t.sampleTime.size()) - 1); i >= 0; --i)
        if (consider(size_t(i))) break;
    } else {
      for (size_t i = size_t(i0); i < t.sampleTime.size(); ++i)
        if (consider(i)) break;
    }
  }
  if (best >= 0) {
    if (interestingTime) *interestingTime = TimeValue(std::min<SInt64>(best, 0x7FFFFFFF));
    if (interestingDuration) *interestingDuration = TimeValue(std::min<SInt64>(bestDuration, 0x7FFFFFFF));
  }
  setError(noErr);
}

namespace {
// A test's scripted failure for each thread hand-over call (0 none).
std::atomic<OSErr> gMovieThreadFailure[4] = {};

OSErr takeMovieThreadFailure(SkyloomMovieThreadCall call) { return gMovieThreadFailure[call].exchange(0); }
}  // namespace

void SkyloomFailNextMovieThreadCall(SkyloomMovieThreadCall call, OSErr status) {
  gMovieThreadFailure[call].store(status);
}

OSErr EnterMoviesOnThread(UInt32) { return takeMovieThreadFailure(kSkyloomEnterMoviesOnThread); }
OSErr ExitMoviesOnThread() { return takeMovieThreadFailure(kSkyloomExitMoviesOnThread); }

OSErr DetachMovieFromCurrentThread(Movie m) {
  if (OSErr failure = takeMovieThreadFailure(kSkyloomDetachMovieFromThread)) return setError(failure);
  return setError(m ? OSErr(noErr) : OSErr(invalidMovie));
}
OSErr AttachMovieToCurrentThread(Movie m) {
  if (OSErr failure = takeMovieThreadFailure(kSkyloomAttachMovieToThread)) return setError(failure);
  return setError(m ? OSErr(noErr) : OSErr(invalidMovie));
}

void SetIdentityMatrix(MatrixRecord* matrix) {
  if (!matrix) return;
  std::memset(matrix, 0, sizeof *matrix);
  matrix->matrix[0][0] = fixed1;
  matrix->matrix[1][1] = fixed1;
  matrix->matrix[2][2] = 0x40000000;  // 1.0 in 2.30
}

void RectMatrix(MatrixRecord* matrix, const Rect* s, const Rect* d) {
  SetIdentityMatrix(matrix);
  if (!matrix || !s || !d || s->right == s->left || s->bottom == s->top) return;
  matrix->matrix[0][0] = FixRatio(short(d->right - d->left), short(s->right - s->left));
  matrix->matrix[1][1] = FixRatio(short(d->bottom - d->top), short(s->bottom - s->top));
  matrix->matrix[2][0] = Long2Fix(d->left) - FixMul(Long2Fix(s->left), matrix->matrix[0][0]);
  matrix->matrix[2][1] = Long2Fix(d->top) - FixMul(Long2Fix(s->top), matrix->matrix[1][1]);
}

Boolean SkyloomCanDecompress(CodecType codec) {
  if (codec != FOUR_CHAR_CODE("BGGR")) return nativeCodec(codec);
  // Raw Bayer is decoded only by a registered decompressor.
  ComponentDescription cd{decompressorComponentType, codec, 0, 0, 0};
  return CountComponents(&cd) > 0 ? 1 : 0;
}

OSErr FDecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect* srcRect,
                       const MatrixRecord* matrix, short, void*, PixMapHandle, const Rect*, CodecQ accuracy, void*,
                       long dataSize, void*, void*) {
  if (!data || !desc || !*desc || !dst || !*dst) return paramErr;
  const ImageDescription& d = **desc;
  std::vector<UInt8> host(reinterpret_cast<UInt8*>(*desc),
                          reinterpret_cast<UInt8*>(*desc) + GetHandleSize(reinterpret_cast<Handle>(desc)));
  if (!nativeCodec(d.cType)) return noCodecErr;
  Frame f;
  const size_t size = dataSize > 0 ? size_t(dataSize) : size_t(d.dataSize > 0 ? d.dataSize : 0);
  if (size == 0) return paramErr;
  OSErr err = decodeNative(reinterpret_cast<const UInt8*>(data), size, d, host, accuracy, &f);
  if (err != noErr) return err;
  Rect src = srcRect ? *srcRect : Rect{0, 0, SInt16(f.height), SInt16(f.width)};
  // The matrix scales and offsets the source rectangle onto the picture.
  Rect to = src;
  if (matrix) {
    const double sx = Fix2X(matrix->matrix[0][0]), sy = Fix2X(matrix->matrix[1][1]);
    const double tx = Fix2X(matrix->matrix[2][0]), ty = Fix2X(matrix->matrix[2][1]);
    to.left = SInt16(std::lround(src.left * sx + tx));
    to.right = SInt16(std::lround(src.right * sx + tx));
    to.top = SInt16(std::lround(src.top * sy + ty));
    to.bottom = SInt16(std::lround(src.bottom * sy + ty));
  }
  return drawFrame(f, src, to, **dst);
}

OSErr DecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect* srcRect,
                      const Rect* dstRect, short mode, void* mask) {
  MatrixRecord m;
  Rect s = srcRect ? *srcRect : Rect{0, 0, desc && *desc ? (*desc)->height : SInt16(0), desc && *desc ? (*desc)->width : SInt16(0)};
  RectMatrix(&m, &s, dstRect ? dstRect : &s);
  return FDecompressImage(data, desc, dst, srcRect, &m, mode, mask, nullptr, nullptr, codecNormalQuality, nullptr, 0,
                          nullptr, nullptr);
}

// ================================================================ editing

struct UserDataRecord {
  std::vector<std::pair<OSType, std::vector<UInt8>>> items;
};

struct DataHandlerRecord {
  std::string path;
};

namespace {

MatrixRecord identity() {
  MatrixRecord m;
  SetIdentityMatrix(&m);
  return m;
}

// A track made in memory, as a whole 'trak' body.
std::vector<UInt8> buildTrak(const MovieModel& mv, const MovieTrackModel& t, const TrackExtra& x) {
  QTAtomWriter o;
  const UInt32 ctime = mv.creationTime, mtime = mv.modificationTime;
  size_t tkhd = o.open(FOUR_CHAR_CODE("tkhd"));
  o.u32((t.tkhdFlags & ~1u) | (t.enabled ? 1u : 0u));
  o.u32(ctime);
  o.u32(mtime);
  o.u32(t.trackID);
  o.u32(0);
  o.u32(UInt32(t.trackDuration));
  o.zeros(8);
  o.u16(0);  // layer
  o.u16(0);  // alternate group
  o.u16(0);  // volume
  o.u16(0);
  o.matrix((x.matrixSet ? x.matrix : identity()).matrix);
  o.u32(UInt32(t.width));
  o.u32(UInt32(t.height));
  o.close(tkhd);
  if (!t.references.empty()) {
    size_t tref = o.open(FOUR_CHAR_CODE("tref"));
    for (const auto& r : t.references) {
      size_t a = o.open(r.first);
      for (UInt32 id : r.second) o.u32(id);
      o.close(a);
    }
    o.close(tref);
  }
  if (!t.edits.empty()) {
    size_t edts = o.open(FOUR_CHAR_CODE("edts"));
    size_t elst = o.open(FOUR_CHAR_CODE("elst"));
    o.u32(0);
    o.u32(UInt32(t.edits.size()));
    for (const MovieEdit& e : t.edits) {
      o.u32(UInt32(e.trackDuration));
      o.u32(UInt32(SInt32(e.mediaTime)));
      o.u32(UInt32(e.rate));
    }
    o.close(elst);
    o.close(edts);
  }
  size_t mdia = o.open(FOUR_CHAR_CODE("mdia"));
  size_t mdhd = o.open(FOUR_CHAR_CODE("mdhd"));
  o.u32(0);
  o.u32(ctime);
  o.u32(mtime);
  o.u32(t.mediaTimeScale);
  o.u32(UInt32(t.mediaDuration));
  o.u16(t.language);
  o.u16(0);
  o.close(mdhd);
  size_t hdlr = o.open(FOUR_CHAR_CODE("hdlr"));
  o.u32(0);
  o.u32(FOUR_CHAR_CODE("mhlr"));
  o.u32(t.handlerType);
  o.u32(FOUR_CHAR_CODE("appl"));
  o.u32(0);
  o.u32(0);
  o.pascal(t.handlerType == TimeCodeMediaType ? "Time Code Media Handler" : "Media Handler");
  o.close(hdlr);
  size_t minf = o.open(FOUR_CHAR_CODE("minf"));
  if (t.handlerType == VideoMediaType) {
    size_t vmhd = o.open(FOUR_CHAR_CODE("vmhd"));
    o.u32(1);
    o.u16(0x40);
    o.u16(0x8000);
    o.u16(0x8000);
    o.u16(0x8000);
    o.close(vmhd);
  } else {
    size_t gmhd = o.open(FOUR_CHAR_CODE("gmhd"));
    size_t gmin = o.open(FOUR_CHAR_CODE("gmin"));
    o.u32(0);
    o.u16(0x40);
    o.u16(0x8000);
    o.u16(0x8000);
    o.u16(0x8000);
    o.u16(0);
    o.u16(0);
    o.close(gmin);
    if (t.handlerType == TimeCodeMediaType) {
      size_t tmcd = o.open(FOUR_CHAR_CODE("tmcd"));
      size_t tcmi = o.open(FOUR_CHAR_CODE("tcmi"));
      o.u32(0);
      o.u16(UInt32(x.text.txFont));
      o.u16(UInt32(x.text.txFace));
      o.u16(UInt32(x.text.txSize));
      o.u16(0);
      o.u16(x.text.foreColor.red);
      o.u16(x.text.foreColor.green);
      o.u16(x.text.foreColor.blue);
      o.u16(x.text.backColor.red);
      o.u16(x.text.backColor.green);
      o.u16(x.text.backColor.blue);
      o.u8(0);  // font name: empty Pascal string
      o.close(tcmi);
      o.close(tmcd);
    }
    o.close(gmhd);
  }
  size_t dhlr = o.open(FOUR_CHAR_CODE("hdlr"));
  o.u32(0);
  o.u32(FOUR_CHAR_CODE("dhlr"));
  o.u32(FOUR_CHAR_CODE("alis"));
  o.u32(FOUR_CHAR_CODE("appl"));
  o.u32(0x10000001);
  o.u32(0x00010163);
  o.pascal("Apple Alias Data Handler");
  o.close(dhlr);
  size_t dinf = o.open(FOUR_CHAR_CODE("dinf"));
  size_t dref = o.open(FOUR_CHAR_CODE("dref"));
  o.u32(0);
  o.u32(1);
  size_t alis = o.open(FOUR_CHAR_CODE("alis"));
  o.u32(1);
  o.close(alis);
  o.close(dref);
  o.close(dinf);
  size_t stbl = o.open(FOUR_CHAR_CODE("stbl"));
  size_t stsd = o.open(FOUR_CHAR_CODE("stsd"));
  o.u32(0);
  o.u32(UInt32(t.descriptions.size()));
  for (const auto& d : t.descriptions) o.bytes(d);
  o.close(stsd);
  size_t stts = o.open(FOUR_CHAR_CODE("stts"));
  o.u32(0);
  o.u32(UInt32(t.timeToSample.size()));
  for (const auto& r : t.timeToSample) {
    o.u32(r.count);
    o.u32(r.duration);
  }
  o.close(stts);
  size_t stsc = o.open(FOUR_CHAR_CODE("stsc"));
  o.u32(0);
  o.u32(t.sampleSize.empty() ? 0 : 1);
  if (!t.sampleSize.empty()) {
    o.u32(1);
    o.u32(1);
    o.u32(t.sampleDescription.empty() ? 1 : t.sampleDescription[0]);
  }
  o.close(stsc);
  size_t stsz = o.open(FOUR_CHAR_CODE("stsz"));
  o.u32(0);
  o.u32(0);
  o.u32(UInt32(t.sampleSize.size()));
  for (UInt32 sz : t.sampleSize) o.u32(sz);
  o.close(stsz);
  bool wide = false;
  for (UInt64 off : t.sampleOffset) wide |= off > 0xFFFFFFFFull;
  size_t co = o.open(wide ? FOUR_CHAR_CODE("co64") : FOUR_CHAR_CODE("stco"));
  o.u32(0);
  o.u32(UInt32(t.sampleOffset.size()));
  for (UInt64 off : t.sampleOffset) {
    if (wide) o.u64(off);
    else o.u32(UInt32(off));
  }
  o.close(co);
  o.close(stbl);
  o.close(minf);
  o.close(mdia);
  return o.b;
}

// A track read from the file, copied with its enabled flag and references
// brought up to date.
std::vector<UInt8> rewriteTrak(const MovieTrackModel& t) {
  QTAtomWriter o;
  const std::vector<UInt8>& raw = t.rawTrak;
  size_t pos = 0;
  bool wroteRefs = false;
  auto writeRefs = [&] {
    if (wroteRefs || t.references.empty()) return;
    size_t tref = o.open(FOUR_CHAR_CODE("tref"));
    for (const auto& r : t.references) {
      size_t a = o.open(r.first);
      for (UInt32 id : r.second) o.u32(id);
      o.close(a);
    }
    o.close(tref);
    wroteRefs = true;
  };
  while (pos + 8 <= raw.size()) {
    UInt64 size = be32(&raw[pos]);
    const OSType type = be32(&raw[pos + 4]);
    if (size == 1 && pos + 16 <= raw.size()) size = (UInt64(be32(&raw[pos + 8])) << 32) | be32(&raw[pos + 12]);
    if (size == 0) size = raw.size() - pos;
    if (size < 8 || size > raw.size() - pos) break;
    if (type == FOUR_CHAR_CODE("tref")) {
      writeRefs();
    } else {
      const size_t start = o.b.size();
      o.b.insert(o.b.end(), raw.begin() + long(pos), raw.begin() + long(pos + size));
      if (type == FOUR_CHAR_CODE("tkhd") && size >= 12) {
        // Flags live in the low bits of the version-and-flags word.
        o.b[start + 11] = UInt8((o.b[start + 11] & ~1u) | (t.enabled ? 1u : 0u));
        writeRefs();  // references follow the header
      }
    }
    pos += size_t(size);
  }
  writeRefs();
  return o.b;
}

std::vector<UInt8> buildMoov(const MovieModel& m, const std::vector<TrackExtra>& extras) {
  QTAtomWriter o;
  size_t moov = o.open(FOUR_CHAR_CODE("moov"));
  size_t mvhd = o.open(FOUR_CHAR_CODE("mvhd"));
  std::vector<UInt8> body = m.rawMvhd;
  UInt32 maxID = 0;
  for (const auto& t : m.tracks) maxID = std::max(maxID, t.trackID);
  const bool v1 = !body.empty() && body[0] == 1;
  // The movie lasts as long as its longest track.
  if (!v1 && body.size() >= 20) qt::putBE32(&body[16], UInt32(std::min<UInt64>(m.duration, 0xFFFFFFFFu)));
  if (v1 && body.size() >= 32) qt::putBE64(&body[24], m.duration);
  const size_t nextAt = v1 ? 108 : 96;
  if (body.size() >= nextAt + 4) {
    UInt32 next = std::max(be32(&body[nextAt]), maxID + 1);
    for (int k = 0; k < 4; ++k) body[nextAt + size_t(k)] = UInt8(next >> (24 - 8 * k));
  }
  o.bytes(body);
  o.close(mvhd);
  for (size_t i = 0; i < m.tracks.size(); ++i) {
    size_t trak = o.open(FOUR_CHAR_CODE("trak"));
    const MovieTrackModel& t = m.tracks[i];
    o.bytes(extras[i].created ? buildTrak(m, t, extras[i]) : rewriteTrak(t));
    o.close(trak);
  }
  for (const auto& a : m.otherAtoms) o.bytes(a);
  o.close(moov);
  return o.b;
}

// Where the file's top-level atom of size 0 ("to the end of the file")
// starts, or -1 when it has none. false when the atoms do not tile the file
// up to its end, so that anything appended would be read as part of the
// broken atom or not at all.
// wideAt is where an 8-byte 'wide' atom right before it starts, else -1.
bool findOpenEndedAtom(int fd, UInt64 end, SInt64* openAt, SInt64* wideAt) {
  *openAt = -1;
  *wideAt = -1;
  SInt64 lastWide = -1;
  UInt64 pos = 0;
  while (pos < end) {
    if (end - pos < 8) return false;
    UInt8 h[16];
    if (pread(fd, h, 8, off_t(pos)) != 8) return false;
    UInt64 size = be32(h);
    UInt64 header = 8;
    if (size == 1) {
      if (end - pos < 16 || pread(fd, h + 8, 8, off_t(pos + 8)) != 8) return false;
      size = qt::be64(h + 8);
      header = 16;
    } else if (size == 0) {
      *openAt = SInt64(pos);
      *wideAt = lastWide;
      return true;
    }
    if (size < header || size > end - pos) return false;
    lastWide = size == 8 && be32(h + 4) == FOUR_CHAR_CODE("wide") ? SInt64(pos) : -1;
    pos += size;
  }
  return true;
}

OSErr writeMovieBack(Movie m, const std::string& path) {
  // Appending a movie atom keeps only a QuickTime file a movie: an AVI or
  // MPEG file would get bytes that no reader of it looks at.
  if (m->viaFFmpeg) return wrPermErr;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? OSErr(fnfErr) : errno == EACCES ? OSErr(permErr) : OSErr(ioErr);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  const off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0) return ioErr;
  SInt64 openAt = -1, wideAt = -1;
  if (!findOpenEndedAtom(fd, UInt64(end), &openAt, &wideAt)) return wrPermErr;
  if (openAt >= 0) {
    // The last atom runs to the end of the file: it gets its real size, or
    // what follows would lie inside it. A size beyond 32 bits needs a 16-byte
    // header, which only the 'wide' atom right before it makes room for.
    const UInt64 size = UInt64(end) - UInt64(openAt);
    if (size <= 0xFFFFFFFFu) {
      UInt8 field[4];
      qt::putBE32(field, UInt32(size));
      if (pwrite(fd, field, 4, off_t(openAt)) != 4) return ioErr;
    } else {
      if (wideAt < 0) return wrPermErr;
      UInt8 h[16];
      if (pread(fd, h + 4, 4, off_t(openAt + 4)) != 4) return ioErr;
      qt::putBE32(h, 1);
      qt::putBE64(h + 8, UInt64(end) - UInt64(wideAt));
      if (pwrite(fd, h, 16, off_t(wideAt)) != 16) return ioErr;
    }
  }
  // Place the new samples in an 'mdat' at the end of the file.
  MovieModel model = m->model;
  UInt64 pending = 0;
  for (const auto& x : m->extras)
    for (const auto& s : x.pendingSamples) pending += s.size();
  std::vector<UInt8> mdat;
  if (pending) {
    QTAtomWriter o;
    o.u32(UInt32(8 + pending));
    o.u32(FOUR_CHAR_CODE("mdat"));
    UInt64 offset = UInt64(end) + 8;
    for (size_t i = 0; i < model.tracks.size(); ++i) {
      for (const auto& s : m->extras[i].pendingSamples) {
        model.tracks[i].sampleOffset.push_back(offset);
        model.tracks[i].sampleSize.push_back(UInt32(s.size()));
        o.bytes(s);
        offset += s.size();
      }
    }
    mdat = std::move(o.b);
  }
  const std::vector<UInt8> moov = buildMoov(model, m->extras);
  // New data and movie atom first; only then does the old atom stop counting.
  std::vector<UInt8> tail = mdat;
  tail.insert(tail.end(), moov.begin(), moov.end());
  if (pwrite(fd, tail.data(), tail.size(), end) != ssize_t(tail.size())) {
    if (ftruncate(fd, end) != 0) {
    }
    return errno == ENOSPC || errno == EDQUOT ? OSErr(dskFulErr) : OSErr(ioErr);
  }
  if (fsync(fd) != 0) return ioErr;
  if (m->model.moovSize) {
    static const char kFree[4] = {'f', 'r', 'e', 'e'};
    if (pwrite(fd, kFree, 4, off_t(m->model.moovOffset + 4)) != 4) return ioErr;
    fsync(fd);
  }
  // The movie in memory now matches the file.
  model.moovOffset = UInt64(end) + mdat.size();
  model.moovSize = moov.size();
  model.fileSize = UInt64(end) + tail.size();
  for (size_t i = 0; i < model.tracks.size(); ++i) {
    if (m->extras[i].created) model.tracks[i].rawTrak = buildTrak(model, model.tracks[i], m->extras[i]);
    else model.tracks[i].rawTrak = rewriteTrak(model.tracks[i]);
    gPendingSamples.fetch_sub(long(m->extras[i].pendingSamples.size()));
    m->extras[i].pendingSamples.clear();
    // A movie made in its own file keeps adding samples to its tracks: they
    // are built from the model at every write.
    if (!m->storage) m->extras[i].created = false;
  }
  m->model = std::move(model);
  m->mdatOpen = false;
  m->storageEnd = m->model.fileSize;
  return noErr;
}

// Writes all of data at off; false on a short write that cannot go on.
bool writeAll(int fd, const UInt8* data, size_t size, UInt64 off) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, off_t(off));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
    off += UInt64(n);
  }
  return true;
}

// One sample of a movie made in a new file, written at the file's end: a new
// data atom ('wide' then an open-ended 'mdat') starts first when none is open.
// A failed write leaves the file as it was before the sample.
OSErr appendToStorage(Movie m, const UInt8* data, size_t size, UInt64* offset) {
  const UInt64 before = m->storageEnd;
  UInt64 at = before;
  if (!m->mdatOpen) {
    static const UInt8 kHeaders[16] = {0, 0, 0, 8, 'w', 'i', 'd', 'e', 0, 0, 0, 0, 'm', 'd', 'a', 't'};
    if (!writeAll(m->fd, kHeaders, sizeof kHeaders, at)) {
      const int e = errno;
      if (ftruncate(m->fd, off_t(before)) != 0) {
      }
      return e == ENOSPC || e == EDQUOT ? OSErr(dskFulErr) : OSErr(ioErr);
    }
    at += sizeof kHeaders;
  }
  if (!writeAll(m->fd, data, size, at)) {
    const int e = errno;
    if (ftruncate(m->fd, off_t(before)) != 0) {
    }
    return e == ENOSPC || e == EDQUOT ? OSErr(dskFulErr) : OSErr(ioErr);
  }
  // Large samples stream to the disk: the writeback of this one starts now,
  // and the ones before it leave the page cache once they are on the disk,
  // so a long movie neither fills memory with dirty pages nor stalls on all
  // of them at once.
  if (size >= (size_t(1) << 20)) {
    sync_file_range(m->fd, off_t(at), off_t(size), SYNC_FILE_RANGE_WRITE);
    if (m->flushedTo < before) {
      const off_t from = off_t(m->flushedTo), length = off_t(before - m->flushedTo);
      sync_file_range(m->fd, from, length,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      posix_fadvise(m->fd, from, length, POSIX_FADV_DONTNEED);
    }
    m->flushedTo = before;
  }
  m->mdatOpen = true;
  *offset = at;
  m->storageEnd = at + size;
  m->model.fileSize = m->storageEnd;
  return noErr;
}

MovieTrackModel* trackModel(Track t) { return t ? &t->movie->model.tracks[t->index] : nullptr; }
TrackExtra* extraOf(Track t) { return t ? &t->movie->extras[t->index] : nullptr; }

}  // namespace

Track NewMovieTrack(Movie m, Fixed width, Fixed height, short) {
  if (!m) {
    setError(invalidMovie);
    return nullptr;
  }
  MovieTrackModel t;
  UInt32 maxID = 0;
  for (const auto& e : m->model.tracks) maxID = std::max(maxID, e.trackID);
  t.trackID = maxID + 1;
  t.enabled = 1;
  t.tkhdFlags = 0xF;
  t.width = width;
  t.height = height;
  m->model.tracks.push_back(t);
  m->hostDescriptions.emplace_back();
  m->extras.emplace_back();
  m->extras.back().created = true;
  auto tr = std::make_unique<TrackRecord>();
  tr->movie = m;
  tr->index = m->model.tracks.size() - 1;
  tr->media.track = tr.get();
  m->tracks.push_back(std::move(tr));
  setError(noErr);
  return m->tracks.back().get();
}

Media NewTrackMedia(Track t, OSType mediaType, TimeScale timeScale, Handle, OSType) {
  MovieTrackModel* tm = trackModel(t);
  if (!tm || timeScale <= 0) {
    setError(tm ? OSErr(paramErr) : OSErr(invalidTrack));
    return nullptr;
  }
  tm->handlerType = mediaType;
  tm->mediaTimeScale = UInt32(timeScale);
  setError(noErr);
  return &t->media;
}

OSErr BeginMediaEdits(Media media) { return setError(media ? OSErr(noErr) : OSErr(invalidMedia)); }
OSErr EndMediaEdits(Media media) { return setError(media ? OSErr(noErr) : OSErr(invalidMedia)); }

OSErr AddMediaSample(Media media, Handle dataIn, long inOffset, unsigned long size, TimeValue duration,
                     SampleDescriptionHandle descH, long numberOfSamples, short, TimeValue* sampleTime) {
  if (!media || !dataIn || numberOfSamples != 1 || duration <= 0 || inOffset < 0) return setError(paramErr);
  if (Size(inOffset) + Size(size) > GetHandleSize(dataIn)) return setError(paramErr);
  Track t = media->track;
  MovieTrackModel& tm = *trackModel(t);
  Movie m = t->movie;
  // A description that differs from the last one is added.
  if (descH) {
    std::vector<UInt8> host(reinterpret_cast<UInt8*>(*descH), reinterpret_cast<UInt8*>(*descH) + GetHandleSize(descH));
    auto& hosts = m->hostDescriptions[t->index];
    if (hosts.empty() || hosts.back() != host) {
      std::vector<UInt8> file = host;
      convertDescription(file, tm.handlerType, false);
      hosts.push_back(host);
      tm.descriptions.push_back(file);
    }
  }
  if (tm.descriptions.empty()) return setError(badImageDescription);
  const UInt8* bytes = reinterpret_cast<const UInt8*>(*dataIn) + inOffset;
  if (m->storage) {
    UInt64 offset = 0;
    if (OSErr err = appendToStorage(m, bytes, size, &offset); err != noErr) return setError(err);
    tm.sampleOffset.push_back(offset);
    tm.sampleSize.push_back(UInt32(size));
  } else {
    m->extras[t->index].pendingSamples.emplace_back(bytes, bytes + size);
    gPendingSamples.fetch_add(1);
  }
  const UInt64 start = tm.sampleTime.empty() ? 0 : tm.sampleTime.back() + tm.timeToSample.back().duration;
  tm.sampleTime.push_back(start);
  tm.sampleDescription.push_back(UInt32(tm.descriptions.size()));
  if (!tm.timeToSample.empty() && tm.timeToSample.back().duration == UInt32(duration)) tm.timeToSample.back().count++;
  else tm.timeToSample.push_back({1, UInt32(duration)});
  tm.mediaDuration = start + UInt64(duration);
  if (sampleTime) *sampleTime = TimeValue(start);
  return setError(noErr);
}

OSErr InsertMediaIntoTrack(Track t, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration, Fixed rate) {
  MovieTrackModel* tm = trackModel(t);
  if (!tm || trackStart < 0 || mediaDuration <= 0 || tm->mediaTimeScale == 0) return setError(paramErr);
  Movie m = t->movie;
  const UInt64 movieDuration =
      UInt64(std::llround(double(mediaDuration) * m->model.timeScale / double(tm->mediaTimeScale)));
  if (trackStart > 0) tm->edits.push_back({UInt64(trackStart), -1, fixed1});
  tm->edits.push_back({movieDuration, mediaTime, rate});
  tm->trackDuration = UInt64(trackStart) + movieDuration;
  m->model.duration = std::max(m->model.duration, tm->trackDuration);
  return setError(noErr);
}

OSErr AddTrackReference(Track t, Track refTrack, OSType refType, long* addedIndex) {
  MovieTrackModel* tm = trackModel(t);
  MovieTrackModel* rm = trackModel(refTrack);
  if (!tm || !rm || t->movie != refTrack->movie) return setError(invalidTrack);
  for (auto& r : tm->references) {
    if (r.first == refType) {
      r.second.push_back(rm->trackID);
      if (addedIndex) *addedIndex = long(r.second.size());
      return setError(noErr);
    }
  }
  tm->references.push_back({refType, {rm->trackID}});
  if (addedIndex) *addedIndex = 1;
  return setError(noErr);
}

void SetTrackMatrix(Track t, const MatrixRecord* matrix) {
  if (TrackExtra* x = extraOf(t); x && matrix) {
    x->matrix = *matrix;
    x->matrixSet = true;
  }
}
void GetTrackMatrix(Track t, MatrixRecord* matrix) {
  if (!matrix) return;
  TrackExtra* x = extraOf(t);
  *matrix = x && x->matrixSet ? x->matrix : identity();
}
void SetTrackDimensions(Track t, Fixed w, Fixed h) {
  if (MovieTrackModel* tm = trackModel(t)) {
    tm->width = w;
    tm->height = h;
  }
}
void GetTrackDimensions(Track t, Fixed* w, Fixed* h) {
  MovieTrackModel* tm = trackModel(t);
  if (w) *w = tm ? tm->width : 0;
  if (h) *h = tm ? tm->height : 0;
}

OSErr UpdateMovieResource(Movie m, short, short, ConstStr255Param) {
  if (!m) return setError(invalidMovie);
  return setError(writeMovieBack(m, m->path));
}

OSErr OpenMovieStorage(Handle dataRef, OSType dataRefType, long, DataHandler* out) {
  if (!out) return setError(paramErr);
  *out = nullptr;
  std::string path = SkyloomDataReferencePath(dataRef, dataRefType);
  if (path.empty()) return setError(couldNotResolveDataRef);
  if (access(path.c_str(), W_OK) != 0) return setError(errno == ENOENT ? OSErr(fnfErr) : OSErr(permErr));
  *out = new DataHandlerRecord{path};
  return setError(noErr);
}
OSErr UpdateMovieInStorage(Movie m, DataHandler dh) {
  if (!m || !dh) return setError(paramErr);
  return setError(writeMovieBack(m, dh->path));
}
OSErr CloseMovieStorage(DataHandler dh) {
  delete dh;
  return setError(noErr);
}

namespace {
// The 'mvhd' body of a new movie: version 0, time scale 600, rate and volume
// 1.0, the identity matrix, next track ID 1. The duration is set as it is
// written.
std::vector<UInt8> newMovieHeader() {
  QTAtomWriter o;
  const UInt32 now = UInt32(UInt64(time(nullptr)) + 2082844800u);  // seconds since 1904
  o.u32(0);
  o.u32(now);
  o.u32(now);
  o.u32(600);
  o.u32(0);
  o.u32(0x00010000);
  o.u16(0x0100);
  o.zeros(10);
  o.matrix();
  o.zeros(24);  // preview, poster, selection and current times
  o.u32(1);
  return o.b;
}
}  // namespace

OSErr CreateMovieStorage(Handle dataRef, OSType dataRefType, OSType, ScriptCode, long flags, DataHandler* outDataHandler,
                         Movie* newMovie) {
  if (outDataHandler) *outDataHandler = nullptr;
  if (newMovie) *newMovie = nullptr;
  if (!outDataHandler || (!newMovie && !(flags & createMovieFileDontCreateMovie))) return setError(paramErr);
  const std::string path = SkyloomDataReferencePath(dataRef, dataRefType);
  if (path.empty()) return setError(couldNotResolveDataRef);
  int openFlags = O_RDWR | O_CREAT | O_CLOEXEC;
  openFlags |= (flags & createMovieFileDeleteCurFile) ? O_TRUNC : O_EXCL;
  const int fd = ::open(path.c_str(), openFlags, 0644);
  if (fd < 0) {
    const int e = errno;
    return setError(e == EEXIST ? OSErr(dupFNErr)
                    : e == ENOENT ? OSErr(dirNFErr)
                    : e == EACCES || e == EPERM ? OSErr(permErr)
                    : e == ENOSPC ? OSErr(dskFulErr)
                                  : OSErr(ioErr));
  }
  auto* dh = new (std::nothrow) DataHandlerRecord{path};
  std::unique_ptr<MovieRecord> movie;
  if (dh && !(flags & createMovieFileDontCreateMovie)) {
    movie.reset(new (std::nothrow) MovieRecord);
    if (movie) {
      movie->path = path;
      movie->storage = true;
      movie->model.timeScale = 600;
      movie->model.rawMvhd = newMovieHeader();
      movie->fd = fd;
    }
  }
  if (!dh || (!movie && !(flags & createMovieFileDontCreateMovie))) {
    delete dh;
    if (!movie) ::close(fd);
    return setError(memFullErr);
  }
  if (!movie) ::close(fd);
  *outDataHandler = dh;
  if (newMovie) *newMovie = movie.release();
  return setError(noErr);
}

OSErr AddMovieToStorage(Movie m, DataHandler dh) {
  if (!m || !dh) return setError(paramErr);
  return setError(writeMovieBack(m, dh->path));
}

long SkyloomPendingMediaSamples() { return gPendingSamples.load(); }

// ---------------------------------------------------------------- segments

namespace {
std::atomic<int> gSegmentFailureIn{0};
std::atomic<OSErr> gSegmentFailureStatus{noErr};

// Whether this insertion is the one a test asked to fail.
bool segmentFailsNow() {
  int n = gSegmentFailureIn.load();
  while (n > 0 && !gSegmentFailureIn.compare_exchange_weak(n, n - 1)) {
  }
  return n == 1;
}

// The first enabled video track holding samples, or -1.
long firstVideoTrack(const MovieModel& model) {
  for (size_t i = 0; i < model.tracks.size(); ++i) {
    const MovieTrackModel& t = model.tracks[i];
    if (t.enabled && t.handlerType == VideoMediaType && !t.sampleTime.empty() && t.mediaTimeScale) return long(i);
  }
  return -1;
}

UInt64 scaleTime(UInt64 value, UInt32 to, UInt32 from) {
  return from ? UInt64((unsigned __int128)value * to / from) : 0;
}
}  // namespace

void SkyloomFailMovieSegmentInsertion(int nth, OSErr status) {
  gSegmentFailureStatus.store(status);
  gSegmentFailureIn.store(nth < 0 ? 0 : nth);
}

OSErr InsertMovieSegment(Movie src, Movie dst, TimeValue srcIn, TimeValue srcDuration, TimeValue dstIn) {
  if (!src || !dst) return setError(invalidMovie);
  if (srcIn < 0 || srcDuration <= 0 || dstIn < 0) return setError(paramErr);
  if (segmentFailsNow()) return setError(gSegmentFailureStatus.load());
  if (src->viaFFmpeg || src->fd < 0) return setError(cantOpenHandler);
  const long si = firstVideoTrack(src->model);
  if (si < 0) return setError(invalidTrack);
  const MovieTrackModel& st = src->model.tracks[size_t(si)];
  const UInt32 srcScale = src->model.timeScale;
  const UInt64 end = UInt64(srcIn) + UInt64(srcDuration);
  if (srcScale == 0 || UInt64(srcIn) >= std::max<UInt64>(src->model.duration, 1)) return setError(invalidTime);

  // The pieces: one a source sample the segment covers, in source movie time.
  struct Piece {
    size_t sample;
    UInt64 movieDuration;
  };
  std::vector<Piece> pieces;
  for (UInt64 t = UInt64(srcIn); t < end;) {
    const SInt64 mediaAt = SkyloomMediaTimeForMovieTime(src->model, st, t);
    const long s = mediaAt < 0 ? -1 : SkyloomSampleAtMediaTime(st, UInt64(mediaAt));
    if (s < 0 || size_t(s) >= st.sampleSize.size()) break;  // past the source's end
    const UInt64 sampleEnd = size_t(s) + 1 < st.sampleTime.size() ? st.sampleTime[size_t(s) + 1] : st.mediaDuration;
    UInt64 movieEnd = t + std::max<UInt64>(1, scaleTime(sampleEnd - UInt64(mediaAt), srcScale, st.mediaTimeScale));
    movieEnd = std::min(movieEnd, end);
    pieces.push_back({size_t(s), movieEnd - t});
    t = movieEnd;
  }
  if (pieces.empty()) return setError(invalidTime);

  // The destination's video track, made on first use.
  long di = firstVideoTrack(dst->model);
  if (di < 0) {
    for (size_t i = 0; i < dst->model.tracks.size(); ++i)
      if (dst->model.tracks[i].handlerType == VideoMediaType) di = long(i);
  }
  const UInt32 dstScale = dst->model.timeScale;
  if (di >= 0 && dst->model.tracks[size_t(di)].trackDuration > UInt64(dstIn)) return setError(paramErr);
  if (di < 0) {
    Track nt = NewMovieTrack(dst, st.width, st.height, 0);
    if (!nt || !NewTrackMedia(nt, VideoMediaType, TimeScale(st.mediaTimeScale), nullptr, 0))
      return setError(GetMoviesError());
    di = long(nt->index);
  }
  Track track = dst->tracks[size_t(di)].get();
  Media media = &track->media;
  MovieTrackModel* dt = &dst->model.tracks[size_t(di)];
  if (dt->mediaTimeScale == 0) return setError(invalidMedia);

  const UInt64 mediaStart = dt->mediaDuration;
  Handle data = NewHandle(0);
  Handle desc = NewHandle(0);
  if (!data || !desc) {
    if (data) DisposeHandle(data);
    if (desc) DisposeHandle(desc);
    return setError(memFullErr);
  }
  OSErr err = noErr;
  UInt64 inserted = 0;
  for (const Piece& p : pieces) {
    const UInt32 size = st.sampleSize[p.sample];
    SetHandleSize(data, Size(size));
    if (MemError() != noErr) {
      err = memFullErr;
      break;
    }
    if (size && pread(src->fd, *data, size, off_t(st.sampleOffset[p.sample])) != ssize_t(size)) {
      err = ioErr;
      break;
    }
    const auto& host = src->hostDescriptions[size_t(si)][st.sampleDescription[p.sample] - 1];
    SetHandleSize(desc, Size(host.size()));
    if (MemError() != noErr) {
      err = memFullErr;
      break;
    }
    std::memcpy(*desc, host.data(), host.size());
    const UInt64 mediaDuration = std::max<UInt64>(1, scaleTime(p.movieDuration, dt->mediaTimeScale, srcScale));
    err = AddMediaSample(media, data, 0, size, TimeValue(mediaDuration), desc, 1, 0, nullptr);
    dt = &dst->model.tracks[size_t(di)];
    if (err != noErr) break;
    inserted += p.movieDuration;
  }
  DisposeHandle(data);
  DisposeHandle(desc);
  if (err != noErr) return setError(err);

  // One edit for the segment, joined to the one before when the media runs on.
  const UInt64 movieDuration = scaleTime(inserted, dstScale, srcScale);
  if (UInt64(dstIn) > dt->trackDuration) dt->edits.push_back({UInt64(dstIn) - dt->trackDuration, -1, fixed1});
  bool joined = false;
  if (!dt->edits.empty() && UInt64(dstIn) == dt->trackDuration) {
    MovieEdit& last = dt->edits.back();
    if (last.mediaTime >= 0 && last.rate == fixed1 &&
        UInt64(last.mediaTime) + scaleTime(last.trackDuration, dt->mediaTimeScale, dstScale) == mediaStart) {
      last.trackDuration += movieDuration;
      joined = true;
    }
  }
  if (!joined) dt->edits.push_back({movieDuration, SInt64(mediaStart), fixed1});
  dt->trackDuration = UInt64(dstIn) + movieDuration;
  dst->model.duration = std::max(dst->model.duration, dt->trackDuration);
  return setError(noErr);
}

// ---------------------------------------------------------------- user data

OSErr NewUserData(UserData* ud) {
  if (!ud) return paramErr;
  *ud = new (std::nothrow) UserDataRecord;
  return *ud ? noErr : memFullErr;
}
OSErr DisposeUserData(UserData ud) {
  delete ud;
  return noErr;
}
OSErr AddUserDataText(UserData ud, Handle data, OSType type, long index, short region) {
  if (!ud || !data || index < 1) return paramErr;
  const Size n = GetHandleSize(data);
  if (n > 0xFFFF) return paramErr;
  std::vector<UInt8> item;
  item.push_back(UInt8(n >> 8));
  item.push_back(UInt8(n));
  item.push_back(UInt8(UInt16(region) >> 8));
  item.push_back(UInt8(region));
  item.insert(item.end(), *data, *data + n);
  long seen = 0;
  for (auto& it : ud->items)
    if (it.first == type && ++seen == index) {
      it.second = item;
      return noErr;
    }
  ud->items.emplace_back(type, std::move(item));
  return noErr;
}
OSErr GetUserDataItem(UserData ud, Handle data, OSType type, long index) {
  if (!ud || !data) return paramErr;
  long seen = 0;
  for (const auto& it : ud->items)
    if (it.first == type && ++seen == index) {
      SetHandleSize(data, Size(it.second.size()));
      if (MemError() != noErr) return memFullErr;
      if (!it.second.empty()) std::memcpy(*data, it.second.data(), it.second.size());
      return noErr;
    }
  return -2026;  // userDataItemNotFound
}

// ---------------------------------------------------------------- time code

MediaHandler GetMediaHandler(Media media) {
  if (!media) {
    setError(invalidMedia);
    return nullptr;
  }
  setError(noErr);
  return reinterpret_cast<MediaHandler>(media);
}

namespace {
Media mediaOf(MediaHandler mh) { return reinterpret_cast<Media>(mh); }
}  // namespace

void SkyloomFontMetrics(SInt16, SInt16 size, SInt16* ascent, SInt16* descent) {
  // A fixed model: the 12-point system font, or the size asked for.
  const SInt16 s = size > 0 ? size : 12;
  if (ascent) *ascent = s;
  if (descent) *descent = SInt16((s + 3) / 4);
}

ComponentResult TCSetDisplayOptions(MediaHandler mh, const TCTextOptions* o) {
  if (!mh || !o) return paramErr;
  extraOf(mediaOf(mh)->track)->text = *o;
  return noErr;
}
ComponentResult TCGetDisplayOptions(MediaHandler mh, TCTextOptions* o) {
  if (!mh || !o) return paramErr;
  *o = extraOf(mediaOf(mh)->track)->text;
  return noErr;
}

ComponentResult TCTimeCodeToString(MediaHandler, const TimeCodeDef* d, const TimeCodeRecord* r, StringPtr s) {
  if (!d || !r || !s) return paramErr;
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%02u:%02u:%02u%c%02u", r->t.hours, r->t.minutes, r->t.seconds,
                        (d->flags & tcDropFrame) ? ';' : ':', r->t.frames);
  s[0] = UInt8(n);
  std::memcpy(s + 1, buf, size_t(n));
  return noErr;
}

ComponentResult TCTimeCodeToFrameNumber(MediaHandler, const TimeCodeDef* d, const TimeCodeRecord* r, SInt32* frameNumber) {
  if (!d || !r || !frameNumber || d->numFrames == 0) return paramErr;
  const SInt64 seconds = SInt64(r->t.hours) * 3600 + SInt64(r->t.minutes) * 60 + r->t.seconds;
  *frameNumber = SInt32(seconds * d->numFrames + r->t.frames);
  return noErr;
}

ComponentResult TCFrameNumberToTimeCode(MediaHandler, SInt32 frameNumber, const TimeCodeDef* d, TimeCodeRecord* r) {
  if (!d || !r || d->numFrames == 0 || frameNumber < 0) return paramErr;
  const SInt32 fps = d->numFrames;
  SInt32 seconds = frameNumber / fps;
  r->t.frames = UInt8(frameNumber % fps);
  r->t.seconds = UInt8(seconds % 60);
  r->t.minutes = UInt8(seconds / 60 % 60);
  r->t.hours = UInt8(seconds / 3600 % ((d->flags & tc24HourMax) ? 24 : 256));
  return noErr;
}

ComponentResult TCSetTimeCodeFlags(MediaHandler mh, SInt32 flags, SInt32 mask) {
  if (!mh) return paramErr;
  SInt32& f = extraOf(mediaOf(mh)->track)->tcFlags;
  f = (f & ~mask) | (flags & mask);
  return noErr;
}
ComponentResult TCGetTimeCodeFlags(MediaHandler mh, SInt32* flags) {
  if (!mh || !flags) return paramErr;
  *flags = extraOf(mediaOf(mh)->track)->tcFlags;
  return noErr;
}

ComponentResult TCSetSourceRef(MediaHandler, TimeCodeDescriptionHandle tcdH, UserData sref) {
  if (!tcdH || !*tcdH || !sref) return paramErr;
  // The source reference follows the definition as flattened user data atoms.
  std::vector<UInt8> flat;
  for (const auto& it : sref->items) {
    const UInt32 size = UInt32(8 + it.second.size());
    for (int k = 0; k < 4; ++k) flat.push_back(UInt8(size >> (24 - 8 * k)));
    for (int k = 0; k < 4; ++k) flat.push_back(UInt8(it.first >> (24 - 8 * k)));
    flat.insert(flat.end(), it.second.begin(), it.second.end());
  }
  const Size base = offsetof(TimeCodeDescription, srcRef);
  SetHandleSize(reinterpret_cast<Handle>(tcdH), base + Size(flat.size()));
  if (MemError() != noErr) return memFullErr;
  std::memcpy(reinterpret_cast<char*>(*tcdH) + base, flat.data(), flat.size());
  (*tcdH)->descSize = SInt32(base + Size(flat.size()));
  return noErr;
}

ComponentResult TCGetTimeCodeAtTime(MediaHandler mh, TimeValue mediaTime, SInt32* frameNum, TimeCodeDef* def,
                                    TimeCodeRecord* rec, UserData* srcRef) {
  if (srcRef) *srcRef = nullptr;
  if (!mh) return paramErr;
  Media media = mediaOf(mh);
  Handle sample = NewHandle(0), desc = NewHandle(0);
  long size = 0;
  OSErr err = GetMediaSample(media, sample, 0, &size, mediaTime, nullptr, nullptr, desc, nullptr, 1, nullptr, nullptr);
  if (err == noErr && (size < 4 || GetHandleSize(desc) < Size(offsetof(TimeCodeDescription, srcRef)))) err = invalidMedia;
  if (err == noErr) {
    const auto* d = reinterpret_cast<const TimeCodeDescription*>(*desc);
    const SInt32 frame = SInt32(be32(reinterpret_cast<const UInt8*>(*sample)));
    if (frameNum) *frameNum = frame;
    if (def) *def = d->timeCodeDef;
    if (rec) err = OSErr(TCFrameNumberToTimeCode(mh, frame, &d->timeCodeDef, rec));
    if (err == noErr && srcRef) {
      UserData ud = nullptr;
      NewUserData(&ud);
      const UInt8* p = reinterpret_cast<const UInt8*>(*desc) + offsetof(TimeCodeDescription, srcRef);
      const UInt8* end = reinterpret_cast<const UInt8*>(*desc) + GetHandleSize(desc);
      while (ud && end - p >= 8) {
        const UInt32 n = be32(p);
        if (n < 8 || n > UInt32(end - p)) break;
        ud->items.emplace_back(be32(p + 4), std::vector<UInt8>(p + 8, p + n));
        p += n;
      }
      *srcRef = ud;
    }
  }
  DisposeHandle(sample);
  DisposeHandle(desc);
  return err;
}
