#include "image_windows/LRGBImport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "image_windows/ImageWindow.h"
#include "image_windows/ImageWindowRecord.h"
#include "image_windows/LRGBAlign.h"
#include "media/PictureImport.h"
#include "pixel/LumaRGB48.h"
#include "platform/corefoundation/CFString.h"
#include "platform/hitoolbox/HIToolbox.h"
#include "platform/navigation/Navigation.h"
#include "platform/vimage/vImage.h"
#include "utilities/FileDialogs.h"

namespace {

constexpr MenuID kImportMenu = 2;
constexpr MenuItemIndex kImportMenuItem = 7;
constexpr NavDialogOptionFlags kImportDialogFlags = 0xC47;
constexpr UInt32 kImportDialogKey = 3;
constexpr OSType kImportTypes[] = {FOUR_CHAR_CODE("PICT"), FOUR_CHAR_CODE("JPEG"), FOUR_CHAR_CODE("GIFf"),
                                   FOUR_CHAR_CODE("8BPS"), FOUR_CHAR_CODE("qtif"), FOUR_CHAR_CODE("TPIC"),
                                   FOUR_CHAR_CODE("BMPf"), FOUR_CHAR_CODE("TIFF")};

struct ModeLayout {
  UInt32 files;
  const char* prompts[4];
  UInt32 displayChannel[4];  // 0 keeps the colour; 1, 2, 3 only red, green, blue
  UInt32 sourceChannel[4];   // the RGB48 sample each layer gives (mode 1's colour layer gives all three)
  UInt32 reference, active;
};

const ModeLayout kModes[4] = {
    {1, {"Select Image:"}, {0}, {0}, 0, 0},
    {2, {"Select Luma Image:", "Select RGB Image:"}, {0, 2}, {0, 0}, 0, 1},
    {3, {"Select Red Image:", "Select Green Image:", "Select Blue Image:"}, {1, 2, 3}, {0, 1, 2}, 1, 0},
    {4,
     {"Select Luma Image:", "Select Red Image:", "Select Green Image:", "Select Blue Image:"},
     {0, 1, 2, 3},
     {0, 0, 1, 2},
     0,
     1},
};

void setImportMenuItem(bool enabled) {
  if (MenuRef menu = GetMenuRef(kImportMenu)) {
    if (enabled) EnableMenuItem(menu, kImportMenuItem);
    else DisableMenuItem(menu, kImportMenuItem);
  }
}

// Channel c of every pixel of an RGB48 picture into a new plane.
UInt16* extractChannel(const UInt8* rgb48, UInt32 w, UInt32 h, UInt32 rowBytes, UInt32 c) {
  auto* plane = static_cast<UInt16*>(myAllocateImagePlane(size_t(w) * h * 2));
  if (!plane) return nullptr;
  for (UInt32 y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const UInt16*>(rgb48 + size_t(y) * rowBytes);
    UInt16* out = plane + size_t(y) * w;
    for (UInt32 x = 0; x < w; ++x) out[x] = row[3 * size_t(x) + c];
  }
  return plane;
}

// Everything one run owns; released on every path.
struct ImportRun {
  MyLRGBAlignDataStruct* record = nullptr;
  UInt16* luma = nullptr;
  UInt16* rgb = nullptr;
  UInt16* lrgb = nullptr;
  UInt16* lumaAside = nullptr;
  UInt16* planes[4] = {};
  ~ImportRun() {
    std::free(luma);
    std::free(rgb);
    std::free(lrgb);
    std::free(lumaAside);
    for (UInt16* p : planes) std::free(p);
    if (record) {
      for (UInt8*& img : record->mLayerImage) {
        std::free(img);
        img = nullptr;
      }
      std::free(record);
    }
  }
};

// Imports the file and warps channel c with layer k's placement.
OSStatus warpedChannel(const MyLRGBAlignDataStruct* r, UInt32 k, const UInt8* rgb48, UInt32 w, UInt32 h,
                       UInt32 rowBytes, UInt32 c, UInt16** out) {
  UInt16* plane = extractChannel(rgb48, w, h, rowBytes, c);
  if (!plane) return memFullErr;
  const Float32 sx = Float32(r->mScaledWidth[k]) / Float32(r->mLayerWidth[k]);
  const Float32 sy = Float32(r->mScaledHeight[k]) / Float32(r->mLayerHeight[k]);
  *out = myCreateClippedRotatedScaledImageMono16Image(r->mRotation[k], sx, sy, plane, w, h, r->mOffsetX[k],
                                                      r->mOffsetY[k], r->mCanvasWidth, r->mCanvasHeight,
                                                      r->mCropLeft, r->mCropTop, r->mCropRight, r->mCropBottom);
  std::free(plane);
  return *out ? noErr : memFullErr;
}

OSStatus importRGB48(const FSRef& file, UInt32* w, UInt32* h, UInt32* rowBytes, Ptr* picture) {
  *picture = nullptr;
  OSErr err = ImportFileIntoRGB48Ptr(file, w, h, rowBytes, picture);
  if (err != noErr) {
    std::free(*picture);
    *picture = nullptr;
    return err;
  }
  return *picture ? noErr : memFullErr;
}

OSStatus runImport(ImportRun& run, UInt32 mode) {
  MyLRGBAlignDataStruct* r = run.record;
  const ModeLayout& layout = kModes[mode];

  setImportMenuItem(false);
  OSStatus err = noErr;
  for (UInt32 k = 0; k < layout.files && err == noErr; ++k)
    err = myGetFSRefForReading(nullptr, SkyloomCFSTR(layout.prompts[k]), &r->mLayerFile[k], FOUR_CHAR_CODE("****"),
                               SInt32(std::size(kImportTypes)), kImportTypes, kImportDialogFlags, kImportDialogKey);
  setImportMenuItem(true);
  if (err != noErr) return err;

  UInt32 W = 0, H = 0;
  Boolean locked = 0;
  if (mode == 0) {
    UInt32 rowBytes = 0;
    Ptr picture = nullptr;
    if ((err = importRGB48(r->mLayerFile[0], &W, &H, &rowBytes, &picture)) != noErr) return err;
    const size_t n = size_t(W) * H;
    run.rgb = static_cast<UInt16*>(myAllocateImagePlane(n * 6));
    if (run.rgb)
      for (UInt32 y = 0; y < H; ++y)
        std::memcpy(run.rgb + size_t(y) * W * 3, picture + size_t(y) * rowBytes, size_t(W) * 6);
    std::free(picture);
    run.luma = static_cast<UInt16*>(myAllocateImagePlane(n * 2));
    run.lrgb = static_cast<UInt16*>(myAllocateImagePlane(n * 8));
    if (!run.rgb || !run.luma || !run.lrgb) return memFullErr;
    myRGB48ToLRGB64AndLuma16(run.rgb, run.lrgb, run.luma, W, H);
    locked = 1;
  } else {
    // Display copies for the alignment window.
    for (UInt32 k = 0; k < layout.files && err == noErr; ++k) {
      OSErr e = noErr;
      r->mLayerImage[k] = reinterpret_cast<UInt8*>(myGetAnImageinARGB32Ptr(
          &e, r->mLayerFile[k], &r->mLayerWidth[k], &r->mLayerHeight[k], &r->mLayerRowBytes[k], 0x80,
          layout.displayChannel[k]));
      err = e != noErr ? OSStatus(e) : (r->mLayerImage[k] ? OSStatus(noErr) : OSStatus(memFullErr));
    }
    if (err == noErr) {
      r->mLayerCount = layout.files;
      r->mReferenceLayer = layout.reference;
      r->mActiveLayer = layout.active;
      err = myManualyAlignImages(r);
    }
    for (UInt8*& img : r->mLayerImage) {
      std::free(img);
      img = nullptr;
    }
    if (err != noErr) return err;

    // The crop, held inside the canvas; the layers must share some area.
    const UInt32 left = std::min(r->mCropLeft, r->mCanvasWidth), right = std::min(r->mCropRight, r->mCanvasWidth);
    const UInt32 top = std::min(r->mCropTop, r->mCanvasHeight), bottom = std::min(r->mCropBottom, r->mCanvasHeight);
    if (right <= left || bottom <= top) return paramErr;
    W = right - left;
    H = bottom - top;
    r->mCropLeft = left, r->mCropRight = right, r->mCropTop = top, r->mCropBottom = bottom;
    r->mCompositeWidth = W, r->mCompositeHeight = H;

    // One full-colour picture in memory at a time.
    for (UInt32 k = 0; k < layout.files; ++k) {
      UInt32 w = 0, h = 0, rowBytes = 0;
      Ptr picture = nullptr;
      if ((err = importRGB48(r->mLayerFile[k], &w, &h, &rowBytes, &picture)) != noErr) return err;
      const auto* bytes = reinterpret_cast<const UInt8*>(picture);
      if (mode == 1 && k == 1) {
        for (UInt32 c = 0; c < 3 && err == noErr; ++c)
          err = warpedChannel(r, 1, bytes, w, h, rowBytes, c, &run.planes[c]);
      } else if (mode == 1) {
        err = warpedChannel(r, 0, bytes, w, h, rowBytes, 0, &run.lumaAside);
      } else {
        err = warpedChannel(r, k, bytes, w, h, rowBytes, layout.sourceChannel[k], &run.planes[k]);
      }
      std::free(picture);
      if (err != noErr) return err;
    }

    // Interleave the colour planes.
    const size_t n = size_t(W) * H;
    const UInt32 first = mode == 3 ? 1 : 0;
    run.rgb = static_cast<UInt16*>(myAllocateImagePlane(n * 6));
    if (!run.rgb) return memFullErr;
    for (size_t i = 0; i < n; ++i)
      for (UInt32 c = 0; c < 3; ++c) run.rgb[3 * i + c] = run.planes[first + c][i];
    for (UInt32 c = 0; c < 3; ++c) {
      std::free(run.planes[first + c]);
      run.planes[first + c] = nullptr;
    }
    if (mode == 3) {
      run.lumaAside = run.planes[0];
      run.planes[0] = nullptr;
    }
    run.lrgb = static_cast<UInt16*>(myAllocateImagePlane(n * 8));
    if (!run.lrgb) return memFullErr;
    if (mode == 2) {
      run.luma = static_cast<UInt16*>(myAllocateImagePlane(n * 2));
      if (!run.luma) return memFullErr;
      myRGB48ToLRGB64AndLuma16(run.rgb, run.lrgb, run.luma, W, H);
      locked = 1;
    } else {
      // The warped plane already is a plane of the window's kind.
      run.luma = run.lumaAside;
      run.lumaAside = nullptr;
      myLuma16AndRGB48ToMergedLRGB64(run.luma, run.rgb, run.lrgb, W, H);
      locked = 0;
    }
  }

  err = myMakeImageWindow(r->mLayerFile[0], run.luma, run.rgb, run.lrgb, W, H, locked);
  if (err == noErr) run.luma = run.rgb = run.lrgb = nullptr;  // the window's now
  return err;
}

}  // namespace

OSStatus myImportLRGBLayers(UInt32 mode) {
  if (mode > 3) return paramErr;
  ImportRun run;
  run.record = static_cast<MyLRGBAlignDataStruct*>(std::malloc(sizeof(MyLRGBAlignDataStruct)));
  if (!run.record) return memFullErr;
  run.record->mOpaque = 0;
  for (UInt8*& img : run.record->mLayerImage) img = nullptr;
  return runImport(run, mode);
}

UInt16* myCreateClippedRotatedScaledImageMono16Image(Float32 rotation, Float32 scaleX, Float32 scaleY,
                                                     const UInt16* layer, UInt32 w, UInt32 h, SInt32 xOffset,
                                                     SInt32 yOffset, UInt32 canvasWidth, UInt32 canvasHeight,
                                                     UInt32 cropLeft, UInt32 cropTop, UInt32 cropRight,
                                                     UInt32 cropBottom) {
  cropRight = std::min(cropRight, canvasWidth);
  cropBottom = std::min(cropBottom, canvasHeight);
  if (!layer || cropRight <= cropLeft || cropBottom <= cropTop) return nullptr;
  const size_t cw = canvasWidth, ch = canvasHeight;
  auto* canvas = static_cast<UInt16*>(std::calloc(cw * ch + 8, sizeof(UInt16)));
  if (!canvas) return nullptr;

  // The layer at its offsets, clipped to the canvas.
  const SInt64 x0 = std::max<SInt64>(0, xOffset), x1 = std::min<SInt64>(SInt64(cw), SInt64(xOffset) + w);
  for (UInt32 r = 0; r < h && x1 > x0; ++r) {
    const SInt64 y = SInt64(yOffset) + r;
    if (y < 0 || y >= SInt64(ch)) continue;
    std::memcpy(canvas + size_t(y) * cw + x0, layer + size_t(r) * w + (x0 - xOffset), size_t(x1 - x0) * 2);
  }

  const size_t outW = cropRight - cropLeft, outH = cropBottom - cropTop;
  auto* crop = static_cast<UInt16*>(myAllocateImagePlane(outW * outH * 2 + 48));
  if (!crop) {
    std::free(canvas);
    return nullptr;
  }
  if (std::fabs(rotation) <= 0.01f && scaleX == 1.0f && scaleY == 1.0f) {
    for (size_t y = 0; y < outH; ++y)
      std::memcpy(crop + y * outW, canvas + (cropTop + y) * cw + cropLeft, outW * 2);
    std::free(canvas);
    return crop;
  }

  // M = T(c) R(phi) T(-c) S(sx, sy) in the y-up frame of the canvas. Only the
  // crop is kept, so the warp fills just the crop: its frame is the canvas's
  // moved by (-left, -(canvas height - bottom)).
  const Float32 phi = rotation * -0.01745329252f;
  const double cx = double(xOffset) + w / 2.0;
  const double cy = double(ch) - double(yOffset) - h + h / 2.0;
  const double cs = std::cos(double(phi)), sn = std::sin(double(phi));
  vImage_AffineTransform m;
  m.a = float(cs * scaleX);
  m.b = float(sn * scaleX);
  m.c = float(-sn * scaleY);
  m.d = float(cs * scaleY);
  m.tx = float(cx - cs * cx + sn * cy - double(cropLeft));
  m.ty = float(cy - sn * cx - cs * cy - double(ch - cropBottom));

  vImage_Buffer in{}, out{};
  const bool ok = myFillInVImageFloatFromMono16Src(&in, canvasWidth, canvasHeight, canvas) == noErr &&
                  myFillInVImageFloatFromMono16Src(&out, UInt32(outW), UInt32(outH), nullptr) == noErr &&
                  vImageAffineWarp_PlanarF(&in, &out, nullptr, &m, 0.0f,
                                           kvImageBackgroundColorFill | kvImageHighQualityResampling) ==
                      kvImageNoError;
  std::free(canvas);
  if (ok) {
    for (size_t y = 0; y < outH; ++y) {
      const auto* row = reinterpret_cast<const float*>(static_cast<const UInt8*>(out.data) + y * out.rowBytes);
      UInt16* dst = crop + y * outW;
      for (size_t x = 0; x < outW; ++x) {
        const float v = row[x];
        dst[x] = v < 1.0f ? 0 : v > 65534.0f ? 65535 : UInt16(v);
      }
    }
  }
  std::free(in.data);
  std::free(out.data);
  if (!ok) {
    std::free(crop);
    return nullptr;
  }
  return crop;
}
