// Reading back the 16-bit TIFF files the exporters write, with libtiff.
#pragma once
#include <tiffio.h>

#include <cstdint>
#include <string>
#include <vector>

namespace skyloom::test {

// Samples of every row, channels interleaved; empty when the file can't be
// opened. Outputs may be null.
inline std::vector<uint16_t> ReadTIFF16(const std::string& path, uint32_t* width, uint32_t* height,
                                        uint16_t* samplesPerPixel, uint16_t* compression = nullptr,
                                        uint16_t* bitsPerSample = nullptr) {
  std::vector<uint16_t> out;
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) return out;
  uint32_t w = 0, h = 0;
  uint16_t spp = 1, comp = 1, bits = 1;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &comp);
  TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
  std::vector<uint16_t> row(size_t(w) * spp);
  for (uint32_t y = 0; y < h; ++y) {
    TIFFReadScanline(t, row.data(), y, 0);
    out.insert(out.end(), row.begin(), row.end());
  }
  TIFFClose(t);
  if (width) *width = w;
  if (height) *height = h;
  if (samplesPerPixel) *samplesPerPixel = spp;
  if (compression) *compression = comp;
  if (bitsPerSample) *bitsPerSample = bits;
  return out;
}

}  // namespace skyloom::test
