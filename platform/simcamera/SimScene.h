// Synthetic sky scenes for the simulated camera and for any test that needs
// realistic frames: a seeded star field with drift, a planet disc with
// detail, read noise and hot pixels.
//
// A scene renders linear light (1.0 = full scale) per colour channel for a
// frame number; everything is a pure function of the settings, the frame
// number and the exposure, so two renders of the same frame are identical
// and tests can ask the scene where its stars truly are.
//
// Units: positions and sizes in pixels, drift in pixels per frame, fluxes
// as the summed linear light of a star at exposure 1.0, noise as a fraction
// of full scale.
#pragma once
#include <vector>

#include "platform/coreservices/MacTypes.h"

enum class SimSceneKind { StarField, Planet };

struct SimSceneSettings {
  SimSceneKind kind = SimSceneKind::StarField;
  UInt32 width = 640;
  UInt32 height = 480;
  UInt64 seed = 1;
  double background = 0.02;
  double noiseSigma = 0.004;
  UInt32 hotPixelCount = 8;
  double driftX = 0.0;  // whole scene, pixels per frame
  double driftY = 0.0;
  // star field
  UInt32 starCount = 40;
  double starSigma = 1.4;  // Gaussian sigma; FWHM = 2.3548 sigma
  double minFlux = 5.0;
  double maxFlux = 300.0;
  // planet
  double planetRadius = 90.0;
  double planetBrightness = 0.55;
  UInt32 planetBands = 7;
};

struct SimStar {
  double x = 0, y = 0;  // centre at frame 0
  double flux = 0;
  double colour[3] = {1, 1, 1};  // relative R, G, B
};

class SimScene {
 public:
  explicit SimScene(const SimSceneSettings& settings);

  const SimSceneSettings& Settings() const { return settings_; }
  const std::vector<SimStar>& Stars() const { return stars_; }
  // Where star i (or the planet's centre) is at `frame`.
  void StarPosition(size_t i, UInt32 frame, double* x, double* y) const;
  void PlanetCentre(UInt32 frame, double* x, double* y) const;
  const std::vector<std::pair<UInt32, UInt32>>& HotPixels() const { return hotPixels_; }

  // Linear light of one channel (0 red, 1 green, 2 blue, 3 luminance) for
  // a whole frame, width x height floats, clipped to [0, 1]. `exposure`
  // scales the sky (shutter x gain); noise and hot pixels are added after.
  void RenderChannel(UInt32 frame, double exposure, int channel, float* out) const;

  // Quantised frames, samples 0 .. 2^bits - 1 in host order.
  void RenderMono(UInt32 frame, double exposure, UInt32 bits, UInt16* out) const;
  // A colour mosaic; bayerCode 1 RGGB, 2 GBRG, 3 GRBG, 4 BGGR; white
  // balance gains per channel (R, G, B).
  void RenderBayer(UInt32 frame, double exposure, const double whiteBalance[3], int bayerCode,
                   UInt32 bits, UInt16* out) const;
  // Interleaved R, G, B.
  void RenderRGB(UInt32 frame, double exposure, const double whiteBalance[3], UInt32 bits,
                 UInt16* out) const;

 private:
  double Noise(UInt32 frame, UInt32 x, UInt32 y, int channel) const;
  SimSceneSettings settings_;
  std::vector<SimStar> stars_;
  std::vector<std::pair<UInt32, UInt32>> hotPixels_;
};
