#include "media/FITSWriter.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "media/MovieLayout.h"

namespace {

std::mutex gClockLock;
std::function<time_t()> gClock;

time_t nowUTC() {
  std::lock_guard<std::mutex> lock(gClockLock);
  return gClock ? gClock() : time(nullptr);
}

constexpr size_t kBlock = 2880;
constexpr size_t kCard = 80;

// The fork, closed (and the file deleted) unless the write went through.
struct FitsFile {
  FSRef ref{};
  FSIORefNum fork = 0;
  bool open = false;
  bool keep = false;
  ~FitsFile() {
    if (open) FSCloseFork(fork);
    if (!keep) FSDeleteObject(&ref);
  }
};

}  // namespace

void SkyloomSetFITSClock(std::function<time_t()> clock) {
  std::lock_guard<std::mutex> lock(gClockLock);
  gClock = std::move(clock);
}

std::string myFITSObjectValue(const unsigned char* name, size_t length) {
  // "OBJECT  = '" is 11 columns and the closing quote one more: 68 are left.
  std::string v;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = name[i];
    std::string piece = c == '\'' ? "''" : (c < 32 || c > 126) ? "_" : std::string(1, char(c));
    if (v.size() + piece.size() > 68) break;
    v += piece;
  }
  return v;
}

OSStatus myMonoToFITSFileFSSPEC(FSSpec location, const void* samples, UInt32 bytesPerSample, UInt32 width,
                                UInt32 height) {
  if (!samples || (bytesPerSample != 1 && bytesPerSample != 2 && bytesPerSample != 4) || width == 0 ||
      height == 0)
    return paramErr;

  // An existing name fails here, and is left alone.
  FitsFile file;
  file.keep = true;  // nothing of ours to delete until the create succeeds
  OSErr err = FSpCreate(&location, 0, 0, 0);
  if (err != noErr) return err;
  file.keep = false;
  err = FSpMakeFSRef(&location, &file.ref);
  if (err != noErr) return err;
  err = FSOpenFork(&file.ref, 0, nullptr, fsWrPerm, &file.fork);
  if (err != noErr) return err;
  file.open = true;

  // The header block: blanks, then each card at the start of its record.
  std::string header(kBlock, ' ');
  size_t record = 0;
  auto card = [&](const std::string& text) {
    header.replace(record * kCard, std::min(text.size(), kCard), text.substr(0, kCard));
    ++record;
  };
  char buf[96];
  card("SIMPLE  =                    T");
  std::snprintf(buf, sizeof buf, "BITPIX  =                  %3d", int(8 * bytesPerSample));
  card(buf);
  card("NAXIS   =                    2");
  std::snprintf(buf, sizeof buf, "NAXIS1  =             %8u", unsigned(width));
  card(buf);
  std::snprintf(buf, sizeof buf, "NAXIS2  =             %8u", unsigned(height));
  card(buf);
  card("EXTEND  =                    T");
  if (bytesPerSample == 2) card("BZERO   =                    32768");
  if (bytesPerSample == 4) card("BZERO   =                    2147483648");
  card("OBJECT  = '" + myFITSObjectValue(location.name + 1, location.name[0]) + "'");
  card("ORIGIN  = 'Quillfeather Imaging And Services'");
  time_t t = nowUTC();
  struct tm utc;
  gmtime_r(&t, &utc);
  std::snprintf(buf, sizeof buf, "%4d-%2d-%2dT%2d:%2d:%2d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  for (char* c = buf; *c; ++c)
    if (*c == ' ') *c = '0';
  card(std::string("DATE    = '") + buf + "'");
  card("END");

  ByteCount done = 0;
  err = FSWriteFork(file.fork, fsFromStart | noCacheMask, 0, kBlock, header.data(), &done);
  if (err != noErr) return err;

  // The samples, big-endian, 16- and 32-bit ones offset to signed.
  const UInt64 length = UInt64(width) * height * bytesPerSample;
  if (bytesPerSample == 1) {
    err = FSWriteFork(file.fork, fsFromStart | noCacheMask, kBlock, ByteCount(length), samples, &done);
    if (err != noErr) return err;
  } else {
    const size_t rowBytes = size_t(width) * bytesPerSample;
    auto* row = static_cast<UInt8*>(std::malloc(rowBytes + 16));
    if (!row) return memFullErr;
    err = FSSetForkPosition(file.fork, fsFromStart, kBlock);
    for (UInt32 y = 0; y < height && err == noErr; ++y) {
      const UInt8* src = static_cast<const UInt8*>(samples) + size_t(y) * rowBytes;
      for (UInt32 x = 0; x < width; ++x) {
        if (bytesPerSample == 2) {
          UInt16 s;
          std::memcpy(&s, src + 2 * x, 2);
          myPutBE16(row + 2 * x, UInt16(s ^ 0x8000));  // s - 32768 as a signed value
        } else {
          UInt32 s;
          std::memcpy(&s, src + 4 * x, 4);
          myPutBE32(row + 4 * x, s ^ 0x80000000u);  // s - 2^31
        }
      }
      err = FSWriteFork(file.fork, fsAtMark | noCacheMask, 0, ByteCount(rowBytes), row, &done);
    }
    std::free(row);
    if (err != noErr) return err;
  }
  if (length % kBlock) {
    const size_t pad = kBlock - size_t(length % kBlock);
    auto* zeros = static_cast<UInt8*>(std::calloc(pad, 1));
    if (!zeros) return memFullErr;
    err = FSWriteFork(file.fork, fsFromStart | noCacheMask, SInt64(kBlock + length), pad, zeros, &done);
    std::free(zeros);
    if (err != noErr) return err;
  }
  file.open = false;
  err = FSCloseFork(file.fork);
  if (err != noErr) return err;
  file.keep = true;
  return noErr;
}
