#include "platform/simcamera/SimScene.h"

#include <algorithm>
#include <cmath>

namespace {

UInt64 SplitMix(UInt64 x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Uniform in (0, 1), never 0 so a logarithm of it is finite.
double Unit(UInt64 bits) { return (double((bits >> 11) + 1)) / 9007199254740993.0; }

struct Rng {
  UInt64 state;
  double Next() { return Unit(state = SplitMix(state)); }
};

UInt16 Quantise(float v, UInt32 bits) {
  double full = double((1u << bits) - 1);
  double q = std::floor(double(v) * full + 0.5);
  return UInt16(std::clamp(q, 0.0, full));
}

// Colour of the Bayer site at (x, y): 0 R, 1 G, 2 B.
int BayerChannel(int bayerCode, UInt32 x, UInt32 y) {
  static const int tiles[4][4] = {{0, 1, 1, 2}, {1, 2, 0, 1}, {1, 0, 2, 1}, {2, 1, 1, 0}};
  int code = (bayerCode >= 1 && bayerCode <= 4) ? bayerCode : 4;
  return tiles[code - 1][(y & 1) * 2 + (x & 1)];
}

}  // namespace

SimScene::SimScene(const SimSceneSettings& settings) : settings_(settings) {
  Rng rng{settings.seed * 0x2545F4914F6CDD1Dull + 17};
  const double w = settings.width, h = settings.height;
  if (settings.kind == SimSceneKind::StarField) {
    for (UInt32 i = 0; i < settings.starCount; i++) {
      SimStar s;
      s.x = 4 + rng.Next() * std::max(0.0, w - 8);
      s.y = 4 + rng.Next() * std::max(0.0, h - 8);
      // Few bright stars, many faint ones.
      double t = rng.Next();
      s.flux = settings.minFlux * std::pow(settings.maxFlux / settings.minFlux, t * t);
      double tint = rng.Next() - 0.5;  // blue-white to orange
      s.colour[0] = 1.0 + 0.4 * tint;
      s.colour[1] = 1.0;
      s.colour[2] = 1.0 - 0.4 * tint;
      stars_.push_back(s);
    }
  }
  for (UInt32 i = 0; i < settings.hotPixelCount && settings.width && settings.height; i++) {
    UInt32 x = UInt32(rng.Next() * w) % settings.width;
    UInt32 y = UInt32(rng.Next() * h) % settings.height;
    hotPixels_.emplace_back(x, y);
  }
}

void SimScene::StarPosition(size_t i, UInt32 frame, double* x, double* y) const {
  *x = stars_[i].x + settings_.driftX * frame;
  *y = stars_[i].y + settings_.driftY * frame;
}

void SimScene::PlanetCentre(UInt32 frame, double* x, double* y) const {
  *x = settings_.width * 0.5 + settings_.driftX * frame;
  *y = settings_.height * 0.5 + settings_.driftY * frame;
}

double SimScene::Noise(UInt32 frame, UInt32 x, UInt32 y, int channel) const {
  // Hash of (seed, frame, pixel, channel): independent of render order.
  UInt64 k = SplitMix(settings_.seed ^ (UInt64(frame) << 40) ^ (UInt64(y) << 20) ^ x ^
                      (UInt64(channel) << 62));
  double u1 = Unit(k), u2 = Unit(SplitMix(k));
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

void SimScene::RenderChannel(UInt32 frame, double exposure, int channel, float* out) const {
  const UInt32 w = settings_.width, h = settings_.height;
  std::vector<double> sky(size_t(w) * h, settings_.background);
  if (settings_.kind == SimSceneKind::StarField) {
    const double sigma = settings_.starSigma, radius = std::ceil(5 * sigma);
    const double norm = 1.0 / (2 * 3.141592653589793 * sigma * sigma);
    for (size_t i = 0; i < stars_.size(); i++) {
      double cx, cy;
      StarPosition(i, frame, &cx, &cy);
      double c = channel == 3 ? (0.299 * stars_[i].colour[0] + 0.587 * stars_[i].colour[1] +
                                 0.114 * stars_[i].colour[2])
                              : stars_[i].colour[channel];
      double peak = stars_[i].flux * norm * c;
      long x0 = std::max(0L, long(std::floor(cx - radius))), x1 = std::min(long(w) - 1, long(std::ceil(cx + radius)));
      long y0 = std::max(0L, long(std::floor(cy - radius))), y1 = std::min(long(h) - 1, long(std::ceil(cy + radius)));
      for (long y = y0; y <= y1; y++)
        for (long x = x0; x <= x1; x++) {
          double dx = x - cx, dy = y - cy;
          sky[size_t(y) * w + x] += peak * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma));
        }
    }
  } else {
    double cx, cy;
    PlanetCentre(frame, &cx, &cy);
    const double R = settings_.planetRadius;
    static const double tint[4] = {1.0, 0.86, 0.66, 0.88};
    for (UInt32 y = 0; y < h; y++)
      for (UInt32 x = 0; x < w; x++) {
        double dx = (x - cx) / R, dy = (y - cy) / R, r2 = dx * dx + dy * dy;
        if (r2 >= 1.0) continue;
        double mu = std::sqrt(1.0 - r2);
        double limb = 0.4 + 0.6 * mu;  // limb darkening
        double bands = 1.0 - 0.18 * (0.5 + 0.5 * std::sin(dy * settings_.planetBands * 3.14159265));
        double sx = dx + 0.35, sy = dy - 0.25;  // an oval spot
        double spot = 1.0 - 0.3 * std::exp(-(sx * sx / 0.01 + sy * sy / 0.004));
        sky[size_t(y) * w + x] += settings_.planetBrightness * limb * bands * spot * tint[channel];
      }
  }
  for (size_t i = 0; i < sky.size(); i++) {
    UInt32 x = UInt32(i % w), y = UInt32(i / w);
    double v = sky[i] * exposure + settings_.noiseSigma * Noise(frame, x, y, channel);
    out[i] = float(std::clamp(v, 0.0, 1.0));
  }
  for (auto [x, y] : hotPixels_) out[size_t(y) * w + x] = 1.0f;
}

void SimScene::RenderMono(UInt32 frame, double exposure, UInt32 bits, UInt16* out) const {
  std::vector<float> plane(size_t(settings_.width) * settings_.height);
  RenderChannel(frame, exposure, 3, plane.data());
  for (size_t i = 0; i < plane.size(); i++) out[i] = Quantise(plane[i], bits);
}

void SimScene::RenderBayer(UInt32 frame, double exposure, const double whiteBalance[3], int bayerCode,
                           UInt32 bits, UInt16* out) const {
  const size_t n = size_t(settings_.width) * settings_.height;
  std::vector<float> planes[3];
  for (int c = 0; c < 3; c++) {
    planes[c].resize(n);
    RenderChannel(frame, exposure * whiteBalance[c], c, planes[c].data());
  }
  for (UInt32 y = 0; y < settings_.height; y++)
    for (UInt32 x = 0; x < settings_.width; x++) {
      size_t i = size_t(y) * settings_.width + x;
      out[i] = Quantise(planes[BayerChannel(bayerCode, x, y)][i], bits);
    }
}

void SimScene::RenderRGB(UInt32 frame, double exposure, const double whiteBalance[3], UInt32 bits,
                         UInt16* out) const {
  const size_t n = size_t(settings_.width) * settings_.height;
  std::vector<float> plane(n);
  for (int c = 0; c < 3; c++) {
    RenderChannel(frame, exposure * whiteBalance[c], c, plane.data());
    for (size_t i = 0; i < n; i++) out[3 * i + c] = Quantise(plane[i], bits);
  }
}
