// The planar image descriptor of the vector image library: a plane of pixels
// of one kind (here single-precision floats, PlanarF) with its geometry (the
// plane's memory belongs to whoever filled it in), and the planar-float affine
// warp of layer alignment.
#pragma once
#include <cstddef>

typedef unsigned long vImagePixelCount;

struct vImage_Buffer {
  void* data;                // first pixel of row 0
  vImagePixelCount height;   // rows
  vImagePixelCount width;    // pixels a row
  size_t rowBytes;           // distance from one row to the next, in bytes
};

typedef float Pixel_F;

// Planar-float affine warp.
typedef long vImage_Error;
typedef unsigned int vImage_Flags;

constexpr vImage_Flags kvImageNoFlags = 0;
constexpr vImage_Flags kvImageBackgroundColorFill = 4;
constexpr vImage_Flags kvImageHighQualityResampling = 32;

constexpr vImage_Error kvImageNoError = 0;
constexpr vImage_Error kvImageNullPointerArgument = -21772;
constexpr vImage_Error kvImageInvalidParameter = -21773;
constexpr vImage_Error kvImageUnknownFlagsBit = -21775;

// Maps source points to destination points: x' = a x + c y + tx,
// y' = b x + d y + ty. Both planes use a frame with x to the right and y up
// from the plane's bottom-left corner; sample (i, j) of a plane of height H
// sits at (i + 0.5, H - j - 0.5).
struct vImage_AffineTransform {
  float a, b, c, d;
  float tx, ty;
};

// Each destination sample takes the source at the inverse-mapped point
// through a separable Lanczos-3 kernel (weights normalised to a sum of 1);
// taps outside the source read backColor, and a point outside the source
// gives backColor. Source and destination must not overlap. tempBuffer is
// not used. Rows run in bands on several threads. 0, or -21772 for a null
// buffer, plane or transform, -21773 for a singular transform or a row
// stride shorter than a row, -21775 for flags other than the two above.
vImage_Error vImageAffineWarp_PlanarF(const vImage_Buffer* src, const vImage_Buffer* dest, void* tempBuffer,
                                      const vImage_AffineTransform* transform, Pixel_F backColor,
                                      vImage_Flags flags);
