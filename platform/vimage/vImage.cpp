#include "platform/vimage/vImage.h"

#include <cmath>
#include <vector>

#include "pixel/RowBands.h"

namespace {

constexpr int kLobes = 3;        // Lanczos-3: taps at -2 .. +3 around floor(u)
constexpr int kTaps = 2 * kLobes;
constexpr int kPhases = 1024;    // fractional positions between two samples

double lanczos(double x) {
  if (x == 0.0) return 1.0;
  if (std::fabs(x) >= kLobes) return 0.0;
  const double px = M_PI * x;
  return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

// The six weights of every phase f = p / kPhases (taps at -2 .. +3 from the
// sample before the point), each row summing to 1; phase 0 is the sample
// itself with weight 1.
struct Weights {
  alignas(32) float w[kPhases + 1][8];
};
const Weights& phaseWeights() {
  static const Weights table = [] {
    Weights t{};
    for (int p = 0; p <= kPhases; ++p) {
      const double f = double(p) / kPhases;
      double sum = 0.0, w[kTaps];
      for (int k = 0; k < kTaps; ++k) sum += w[k] = lanczos(f - double(k - (kLobes - 1)));
      for (int k = 0; k < kTaps; ++k) t.w[p][k] = float(w[k] / sum);
      if (p == 0 || p == kPhases) {  // on a sample: that sample alone, exactly
        for (int k = 0; k < kTaps; ++k) t.w[p][k] = 0.0f;
        t.w[p][p == 0 ? kLobes - 1 : kLobes] = 1.0f;
      }
    }
    return t;
  }();
  return table;
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
  const Weights& table = phaseWeights();
  const auto* srcBase = static_cast<const unsigned char*>(src->data);
  auto* dstBase = static_cast<unsigned char*>(dest->data);
  const size_t srb = src->rowBytes, drb = dest->rowBytes;

  myRunRowBands(UInt32(dest->height), UInt64(dest->width) * kTaps * kTaps, [&](UInt32 begin, UInt32 end) {
    for (UInt32 j = begin; j < end; ++j) {
      auto* out = reinterpret_cast<float*>(dstBase + j * drb);
      const double py = dh - double(j) - 0.5 - ty;
      for (vImagePixelCount i = 0; i < dest->width; ++i) {
        const double px = double(i) + 0.5 - tx;
        // Continuous sample indices in the source: column u, row v.
        const double u = ia * px + ic * py - 0.5;
        const double v = shd - (ib * px + id * py) - 0.5;
        if (!(u >= -0.5 && u < double(sw) - 0.5 && v >= -0.5 && v < double(sh) - 0.5)) {
          out[i] = backColor;
          continue;
        }
        const double fu = std::floor(u), fv = std::floor(v);
        const long x0 = long(fu) - (kLobes - 1), y0 = long(fv) - (kLobes - 1);
        const float* wx = table.w[int((u - fu) * kPhases + 0.5)];
        const float* wy = table.w[int((v - fv) * kPhases + 0.5)];
        float acc = 0.0f;
        if (x0 >= 0 && y0 >= 0 && x0 + 8 <= sw && y0 + kTaps <= sh) {
          // Eight columns a row (the last two weigh 0) so that a row is one vector.
          const auto* row = reinterpret_cast<const float*>(srcBase + size_t(y0) * srb) + x0;
          for (int r = 0; r < kTaps; ++r) {
            float rowSum = 0.0f;
            for (int k = 0; k < 8; ++k) rowSum += wx[k] * row[k];
            acc += wy[r] * rowSum;
            row = reinterpret_cast<const float*>(reinterpret_cast<const unsigned char*>(row) + srb);
          }
        } else {
          for (int r = 0; r < kTaps; ++r) {
            const long y = y0 + r;
            const float* row = (y >= 0 && y < sh) ? reinterpret_cast<const float*>(srcBase + size_t(y) * srb)
                                                  : nullptr;
            float rowSum = 0.0f;
            for (int k = 0; k < kTaps; ++k) {
              const long x = x0 + k;
              rowSum += wx[k] * ((row && x >= 0 && x < sw) ? row[x] : backColor);
            }
            acc += wy[r] * rowSum;
          }
        }
        out[i] = acc;
      }
    }
  });
  return kvImageNoError;
}
