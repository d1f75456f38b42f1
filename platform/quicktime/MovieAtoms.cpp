#include "platform/quicktime/MovieAtoms.h"

#include "platform/quicktime/BigEndian.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr OSErr kBadData = -8969;      // codecBadDataErr
constexpr OSErr kInvalidMovie = -2048;  // invalidMovie
constexpr size_t kMaxSamples = 50u * 1000 * 1000;
constexpr size_t kMaxMoovBytes = size_t(512) << 20;

using qt::be16;
using qt::be32;
using qt::be64;

// One atom inside a parent's body.
struct Atom {
  OSType type;
  const UInt8* body;
  size_t size;
};

// Walks the child atoms of a body; false when a child's size is impossible.
template <typename F>
bool forEachAtom(const UInt8* p, size_t n, F&& f) {
  size_t pos = 0;
  while (pos + 8 <= n) {
    UInt64 size = be32(p + pos);
    const OSType type = be32(p + pos + 4);
    size_t header = 8;
    if (size == 1) {
      if (pos + 16 > n) return false;
      size = be64(p + pos + 8);
      header = 16;
    } else if (size == 0) {
      size = n - pos;  // runs to the end of the parent
    }
    if (size < header || size > n - pos) {
      // A 32-bit zero terminator ends a list in some writers.
      if (be32(p + pos) == 0 && n - pos >= 4) return true;
      return false;
    }
    if (!f(Atom{type, p + pos + header, size_t(size) - header})) return false;
    pos += size_t(size);
  }
  return true;
}

const Atom* find(const std::vector<Atom>& atoms, const char (&type)[5]) {
  const OSType t = (OSType(UInt8(type[0])) << 24) | (OSType(UInt8(type[1])) << 16) | (OSType(UInt8(type[2])) << 8) |
                   OSType(UInt8(type[3]));
  for (const Atom& a : atoms)
    if (a.type == t) return &a;
  return nullptr;
}

bool children(const Atom& a, std::vector<Atom>* out) {
  out->clear();
  return forEachAtom(a.body, a.size, [&](const Atom& c) {
    out->push_back(c);
    return true;
  });
}

bool parseSampleTable(const Atom& stbl, UInt64 fileSize, MovieTrackModel* t) {
  std::vector<Atom> kids;
  if (!children(stbl, &kids)) return false;
  const Atom* stsd = find(kids, "stsd");
  const Atom* stts = find(kids, "stts");
  const Atom* stsc = find(kids, "stsc");
  const Atom* stsz = find(kids, "stsz");
  const Atom* stco = find(kids, "stco");
  const Atom* co64 = find(kids, "co64");
  if (!stsd || stsd->size < 8) return false;
  {
    UInt32 count = be32(stsd->body + 4);
    size_t pos = 8;
    for (UInt32 i = 0; i < count; ++i) {
      if (stsd->size - pos < 8) return false;
      UInt32 size = be32(stsd->body + pos);
      if (size < 8 || size > stsd->size - pos) return false;
      t->descriptions.emplace_back(stsd->body + pos, stsd->body + pos + size);
      pos += size;
    }
  }
  if (!stts || !stsc || !stsz || (!stco && !co64)) {
    // A track with no samples has empty tables.
    return !stts && !stsz;
  }
  // Time to sample.
  if (stts->size < 8) return false;
  UInt32 runs = be32(stts->body + 4);
  if (UInt64(runs) * 8 > stts->size - 8) return false;
  UInt64 totalSamples = 0;
  for (UInt32 i = 0; i < runs; ++i) {
    MovieSampleRun r{be32(stts->body + 8 + 8 * i), be32(stts->body + 12 + 8 * i)};
    t->timeToSample.push_back(r);
    totalSamples += r.count;
  }
  // Sizes.
  if (stsz->size < 12) return false;
  const UInt32 constantSize = be32(stsz->body + 4);
  const UInt32 sampleCount = be32(stsz->body + 8);
  if (sampleCount > kMaxSamples || totalSamples < sampleCount) return false;
  if (constantSize == 0 && UInt64(sampleCount) * 4 > stsz->size - 12) return false;
  // Chunk offsets.
  const Atom* co = co64 ? co64 : stco;
  const size_t width = co64 ? 8 : 4;
  if (co->size < 8) return false;
  const UInt32 chunks = be32(co->body + 4);
  if (UInt64(chunks) * width > co->size - 8) return false;
  // Sample to chunk.
  if (stsc->size < 8) return false;
  const UInt32 entries = be32(stsc->body + 4);
  if (UInt64(entries) * 12 > stsc->size - 8) return false;

  try {
    t->sampleOffset.resize(sampleCount);
    t->sampleSize.resize(sampleCount);
    t->sampleTime.resize(sampleCount);
    t->sampleDescription.resize(sampleCount);
  } catch (const std::bad_alloc&) {
    return false;
  }
  UInt32 s = 0;
  for (UInt32 e = 0; e < entries && s < sampleCount; ++e) {
    const UInt8* en = stsc->body + 8 + 12 * size_t(e);
    const UInt32 firstChunk = be32(en), perChunk = be32(en + 4), desc = be32(en + 8);
    const UInt32 nextFirst = e + 1 < entries ? be32(en + 12) : chunks + 1;
    if (firstChunk == 0 || nextFirst < firstChunk || perChunk == 0) return false;
    for (UInt32 c = firstChunk; c < nextFirst && c <= chunks && s < sampleCount; ++c) {
      UInt64 offset = co64 ? be64(co->body + 8 + 8 * size_t(c - 1)) : be32(co->body + 8 + 4 * size_t(c - 1));
      for (UInt32 k = 0; k < perChunk && s < sampleCount; ++k, ++s) {
        const UInt32 size = constantSize ? constantSize : be32(stsz->body + 12 + 4 * size_t(s));
        if (offset > fileSize || size > fileSize - offset) return false;
        t->sampleOffset[s] = offset;
        t->sampleSize[s] = size;
        t->sampleDescription[s] = desc;
        offset += size;
      }
    }
  }
  if (s != sampleCount) return false;
  UInt64 time = 0;
  s = 0;
  for (const MovieSampleRun& r : t->timeToSample)
    for (UInt32 k = 0; k < r.count && s < sampleCount; ++k, ++s) {
      t->sampleTime[s] = time;
      time += r.duration;
    }
  for (UInt32 d : t->sampleDescription)
    if (d == 0 || d > t->descriptions.size()) return false;
  if (const Atom* stss = find(kids, "stss")) {
    if (stss->size < 8) return false;
    const UInt32 n = be32(stss->body + 4);
    if (UInt64(n) * 4 > stss->size - 8) return false;
    for (UInt32 i = 0; i < n; ++i) t->syncSamples.push_back(be32(stss->body + 8 + 4 * size_t(i)));
  }
  return true;
}

bool parseTrack(const Atom& trak, UInt64 fileSize, MovieTrackModel* t) {
  std::vector<Atom> kids;
  if (!children(trak, &kids)) return false;
  const Atom* tkhd = find(kids, "tkhd");
  if (!tkhd || tkhd->size < 4) return false;
  const UInt8 version = tkhd->body[0];
  const size_t need = version == 1 ? 92 : 80;
  if (tkhd->size < need) return false;
  t->tkhdFlags = be32(tkhd->body) & 0xFFFFFF;
  t->enabled = (t->tkhdFlags & 1) ? 1 : 0;
  const UInt8* p = tkhd->body + 4;
  if (version == 1) {
    t->trackID = be32(p + 16);
    t->trackDuration = be64(p + 24);
    p += 32;
  } else {
    t->trackID = be32(p + 8);
    t->trackDuration = be32(p + 16);
    p += 20;
  }
  // p: reserved 8, layer, group, volume, reserved, matrix 36, width, height.
  t->width = Fixed(be32(p + 52));
  t->height = Fixed(be32(p + 56));
  if (const Atom* edts = find(kids, "edts")) {
    std::vector<Atom> e;
    if (!children(*edts, &e)) return false;
    if (const Atom* elst = find(e, "elst")) {
      if (elst->size < 8) return false;
      const UInt8 v = elst->body[0];
      const UInt32 n = be32(elst->body + 4);
      const size_t entry = v == 1 ? 20 : 12;
      if (UInt64(n) * entry > elst->size - 8) return false;
      for (UInt32 i = 0; i < n; ++i) {
        const UInt8* q = elst->body + 8 + entry * i;
        MovieEdit ed;
        if (v == 1) {
          ed.trackDuration = be64(q);
          ed.mediaTime = SInt64(be64(q + 8));
          ed.rate = Fixed(be32(q + 16));
        } else {
          ed.trackDuration = be32(q);
          ed.mediaTime = SInt32(be32(q + 4));
          ed.rate = Fixed(be32(q + 8));
        }
        t->edits.push_back(ed);
      }
    }
  }
  if (const Atom* tref = find(kids, "tref")) {
    bool ok = forEachAtom(tref->body, tref->size, [&](const Atom& r) {
      std::vector<UInt32> ids;
      for (size_t i = 0; i + 4 <= r.size; i += 4) ids.push_back(be32(r.body + i));
      t->references.emplace_back(r.type, std::move(ids));
      return true;
    });
    if (!ok) return false;
  }
  const Atom* mdia = find(kids, "mdia");
  if (!mdia) return false;
  std::vector<Atom> m;
  if (!children(*mdia, &m)) return false;
  const Atom* mdhd = find(m, "mdhd");
  if (!mdhd || mdhd->size < 4) return false;
  if (mdhd->body[0] == 1) {
    if (mdhd->size < 36) return false;
    t->mediaTimeScale = be32(mdhd->body + 20);
    t->mediaDuration = be64(mdhd->body + 24);
    t->language = be16(mdhd->body + 32);
  } else {
    if (mdhd->size < 24) return false;
    t->mediaTimeScale = be32(mdhd->body + 12);
    t->mediaDuration = be32(mdhd->body + 16);
    t->language = be16(mdhd->body + 20);
  }
  if (const Atom* hdlr = find(m, "hdlr")) {
    if (hdlr->size < 12) return false;
    t->handlerType = be32(hdlr->body + 8);
  }
  const Atom* minf = find(m, "minf");
  if (!minf) return false;
  std::vector<Atom> mi;
  if (!children(*minf, &mi)) return false;
  const Atom* stbl = find(mi, "stbl");
  if (!stbl) return false;
  return parseSampleTable(*stbl, fileSize, t);
}

}  // namespace

OSErr SkyloomParseMovieAtom(const UInt8* body, size_t size, UInt64 fileSize, MovieModel* out) {
  if (!body || !out) return -50;
  *out = MovieModel{};
  std::vector<Atom> kids;
  if (!forEachAtom(body, size, [&](const Atom& a) {
        kids.push_back(a);
        return true;
      }))
    return kBadData;
  const Atom* mvhd = find(kids, "mvhd");
  if (!mvhd || mvhd->size < 4) return kBadData;
  if (mvhd->body[0] == 1) {
    if (mvhd->size < 100 + 12) return kBadData;
    out->creationTime = UInt32(be64(mvhd->body + 4));
    out->modificationTime = UInt32(be64(mvhd->body + 12));
    out->timeScale = be32(mvhd->body + 20);
    out->duration = be64(mvhd->body + 24);
    out->nextTrackID = be32(mvhd->body + 108);
  } else {
    if (mvhd->size < 100) return kBadData;
    out->creationTime = be32(mvhd->body + 4);
    out->modificationTime = be32(mvhd->body + 8);
    out->timeScale = be32(mvhd->body + 12);
    out->duration = be32(mvhd->body + 16);
    out->nextTrackID = be32(mvhd->body + 96);
  }
  out->fileSize = fileSize;
  out->rawMvhd.assign(mvhd->body, mvhd->body + mvhd->size);
  for (const Atom& a : kids) {
    if (a.type == 0x6D766864) continue;  // 'mvhd'
    if (a.type != 0x7472616B) {          // not 'trak': kept whole
      const UInt8* start = a.body - 8;
      // The atom's header is 8 bytes unless it used the 64-bit size form.
      if (start >= body && be32(start + 4) != a.type) start = a.body - 16;
      if (start >= body) out->otherAtoms.emplace_back(start, a.body + a.size);
      continue;
    }
    MovieTrackModel t;
    if (!parseTrack(a, fileSize, &t)) {
      *out = MovieModel{};
      return kBadData;
    }
    t.rawTrak.assign(a.body, a.body + a.size);
    out->tracks.push_back(std::move(t));
  }
  return 0;
}

OSErr SkyloomReadMovieFile(const std::string& path, MovieModel* out) {
  if (!out) return -50;
  *out = MovieModel{};
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -43 : errno == EACCES ? -54 : -36;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kInvalidMovie;
  }
  const UInt64 fileSize = UInt64(st.st_size);
  UInt64 pos = 0;
  OSErr result = kInvalidMovie;
  while (pos + 8 <= fileSize) {
    UInt8 h[16];
    if (pread(fd, h, 8, off_t(pos)) != 8) break;
    UInt64 size = be32(h);
    const OSType type = be32(h + 4);
    UInt64 header = 8;
    if (size == 1) {
      if (pos + 16 > fileSize || pread(fd, h + 8, 8, off_t(pos + 8)) != 8) break;
      size = be64(h + 8);
      header = 16;
    } else if (size == 0) {
      size = fileSize - pos;
    }
    if (size < header || size > fileSize - pos) break;
    if (type == 0x6D6F6F76) {  // 'moov'
      const UInt64 bodySize = size - header;
      if (bodySize > kMaxMoovBytes) break;
      std::vector<UInt8> body;
      try {
        body.resize(size_t(bodySize));
      } catch (const std::bad_alloc&) {
        ::close(fd);
        return -108;
      }
      if (pread(fd, body.data(), body.size(), off_t(pos + header)) != ssize_t(body.size())) break;
      result = SkyloomParseMovieAtom(body.data(), body.size(), fileSize, out);
      if (result == 0) {
        out->moovOffset = pos;
        out->moovSize = size;
      }
      break;
    }
    pos += size;
  }
  ::close(fd);
  return result;
}

long SkyloomSampleAtMediaTime(const MovieTrackModel& t, UInt64 mediaTime) {
  const auto& times = t.sampleTime;
  if (times.empty()) return -1;
  UInt64 lastEnd = times.back() + (t.timeToSample.empty() ? 0 : t.timeToSample.back().duration);
  if (mediaTime >= lastEnd) return -1;
  auto it = std::upper_bound(times.begin(), times.end(), mediaTime);
  if (it == times.begin()) return -1;
  return long(it - times.begin()) - 1;
}

SInt64 SkyloomMediaTimeForMovieTime(const MovieModel& m, const MovieTrackModel& t, UInt64 movieTime) {
  if (t.edits.empty()) {
    if (m.timeScale == 0) return -1;
    // Without edits the media starts at movie time 0.
    return SInt64((unsigned __int128)movieTime * t.mediaTimeScale / m.timeScale);
  }
  UInt64 start = 0;
  for (const MovieEdit& e : t.edits) {
    if (movieTime < start + e.trackDuration) {
      if (e.mediaTime < 0 || m.timeScale == 0) return -1;
      UInt64 into = movieTime - start;
      return e.mediaTime + SInt64((unsigned __int128)into * t.mediaTimeScale / m.timeScale);
    }
    start += e.trackDuration;
  }
  return -1;
}
