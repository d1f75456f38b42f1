#include "platform/vimage/vImage.h"

#include <array>
#include <cmath>
#include <vector>

#include "pixel/RowBands.h"

namespace {

constexpr int kLobes = 3;                // Lanczos-3: taps at -2 .. +3 around floor(u)
constexpr int kTaps = 2 * kLobes;
constexpr int kTableSteps = 4096;        // kernel samples per unit of distance

// The Lanczos-3 kernel sampled at 1/kTableSteps steps over [0, 3].
const std::vector<float>& lanczosTable() {
  static const std::vector<float> table = [] {
    std::vector<float> t(kLobes * kTableSteps + 2, 0.0f);
    t[0] = 1.0f;
    for (int i = 1; i < kLobes * kTableSteps; ++i) {
      const double x = double(i) / kTableSteps;
      const double px = M_PI * x;
      t[std::size_t(i)] = float(kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px));
    }
    return t;
  }();
  return table;
}

inline float kernelAt(const float* table, float distance) {
  const float d = std::fabs(distance) * float(kTableSteps);
  if (d >= float(kLobes * kTableSteps)) return 0.0f;
  const int i = int(d);
  const float f = d - float(i);
  return table[i] + f * (table[i + 1] - table[i]);
}

// The six weights around a continuous index u (taps at base - 2 .. base + 3),
// summing to 1. At an exact sample position the weight is 1 on that sample.
inline void weightsFor(const float* table, float u, int& base, std::array<float, kTaps>& w) {
  const float fl = std::floor(u);
  base = int(fl);
  const float f = u - fl;
  if (f == 0.0f) {
    w.fill(0.0f);
    w[kLobes - 1] = 1.0f;
    return;
  }
  float sum = 0.0f;
  for (int k = 0; k < kTaps; ++k) {
    w[std::size_t(k)] = kernelAt(table, f - float(k - (kLobes - 1)));
    sum += w[std::size_t(k)];
  }
  const float inv = 1.0f / sum;
  for (float& x : w) x *= inv;
}

}  // namespace

vImage_Error vImageAffineWarp_PlanarF(const vImage_Buffer* src, const vImage_Buffer* dest, void* /*tempBuffer*/,
                                      const vImage_AffineTransform* t, Pixel_F backColor, vImage_Flags flags) {
  if (!src || !dest || !t || !src->data || !dest->data) return kvImageNullPointerArgument;
  if (flags & ~(kvImageBackgroundColorFill | kvImageHighQualityResampling)) return kvImageUnknownFlagsBit;
  if (src->rowBytes < src->width * sizeof(float) || dest->rowBytes < dest->width * sizeof(float))
    return kvImageInvalidParameter;
  const double det = double(t->a) * t->d - double(t->b) * t->c;
  if (!std::isfinite(det) || det == 0.0) return kvImageInvalidParameter;
  if (dest->width == 0 || dest->height == 0) return kvImageNoError;

  // Inverse of the map in double: q = Minv (p - t).
  const double ia = t->d / det, ib = -t->b / det, ic = -t->c / det, id = t->a / det;
  const double tx = t->tx, ty = t->ty;
  const long sw = long(src->width), sh = long(src->height);
  const double dh = double(dest->height), shd = double(sh);
  const float* table = lanczosTable().data();
  const auto* srcBase = static_cast<const unsigned char*>(src->data);
  auto* dstBase = static_cast<unsigned char*>(dest->data);
  const size_t srb = src->rowBytes, drb = dest->rowBytes;

  myRunRowBands(UInt32(dest->height), UInt64(dest->width) * kTaps * kTaps, [&](UInt32 begin, UInt32 end) {
    std::array<float, kTaps> wx{}, wy{};
    for (UInt32 j = begin; j < end; ++j) {
      auto* out = reinterpret_cast<float*>(dstBase + j * drb);
      const double py = dh - double(j) - 0.5 - ty;
      for (vImagePixelCount i = 0; i < dest->width; ++i) {
        const double px = double(i) + 0.5 - tx;
        const double qx = ia * px + ic * py;
        const double qy = ib * px + id * py;
        // Continuous sample indices in the source: column u, row v.
        const double u = qx - 0.5;
        const double v = shd - qy - 0.5;
        if (!(u >= -0.5 && u < double(sw) - 0.5 && v >= -0.5 && v < double(sh) - 0.5)) {
          out[i] = backColor;
          continue;
        }
        int bx, by;
        weightsFor(table, float(u), bx, wx);
        weightsFor(table, float(v), by, wy);
        const long x0 = bx - (kLobes - 1), y0 = by - (kLobes - 1);
        const bool inside = x0 >= 0 && y0 >= 0 && x0 + kTaps <= sw && y0 + kTaps <= sh;
        float acc = 0.0f;
        for (int r = 0; r < kTaps; ++r) {
          const float wr = wy[std::size_t(r)];
          if (wr == 0.0f) continue;
          const long y = y0 + r;
          float rowSum = 0.0f;
          if (inside) {
            const auto* row = reinterpret_cast<const float*>(srcBase + size_t(y) * srb) + x0;
            for (int k = 0; k < kTaps; ++k) rowSum += wx[std::size_t(k)] * row[k];
          } else {
            const float* row = (y >= 0 && y < sh) ? reinterpret_cast<const float*>(srcBase + size_t(y) * srb)
                                                  : nullptr;
            for (int k = 0; k < kTaps; ++k) {
              const long x = x0 + k;
              const float s = (row && x >= 0 && x < sw) ? row[x] : backColor;
              rowSum += wx[std::size_t(k)] * s;
            }
          }
          acc += wr * rowSum;
        }
        out[i] = acc;
      }
    }
  });
  return kvImageNoError;
}
