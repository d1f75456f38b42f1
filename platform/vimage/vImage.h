// The planar image descriptor of the vector image library: a plane of pixels
// of one kind (here single-precision floats, PlanarF) with its geometry. Only
// the descriptor is needed so far; the plane's memory belongs to whoever filled
// it in.
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
