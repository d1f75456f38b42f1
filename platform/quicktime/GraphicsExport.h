// Graphics exporters ('grex'): a picture in, a still-image file out. Subtypes:
// 'TIFF' (libtiff), 'PNGf' (libpng), 'JPEG' (libjpeg), 'BMPf', '8BPS'
// (Photoshop) and 'PICT' (our own small writers).
//
// What the export depth means:
//   24  RGB, 8 bits a sample; from a 'b48r' picture, RGB at 16 bits a sample
//   32  RGB with alpha, 8 bits a sample (JPEG, PICT and Photoshop drop alpha)
//   40  grey, 8 bits; from a 'b16g' picture, grey at 16 bits
// Formats that hold only 8-bit samples (JPEG, BMP, PICT, Photoshop) take the
// high byte of 16-bit samples. Compression quality 512 is JPEG quality 75 and
// 1024 is 100; PNG is lossless at any quality.
#pragma once
#include <functional>
#include <string>

#include "platform/coregraphics/CGImage.h"
#include "platform/coreservices/Files.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quickdraw/QDOffscreen.h"
#include "platform/quicktime/Components.h"

typedef ComponentInstance GraphicsExportComponent;

constexpr OSType GraphicsExporterComponentType = FOUR_CHAR_CODE("grex");
enum : OSType {
  kQTFileTypeTIFF = FOUR_CHAR_CODE("TIFF"),
  kQTFileTypePNG = FOUR_CHAR_CODE("PNGf"),
  kQTFileTypeJPEG = FOUR_CHAR_CODE("JPEG"),
  kQTFileTypeBMP = FOUR_CHAR_CODE("BMPf"),
  kQTFileTypePhotoShop = FOUR_CHAR_CODE("8BPS"),
  kQTFileTypePicture = FOUR_CHAR_CODE("PICT"),
};
enum : SInt32 {
  kQTTIFFCompression_None = 1,
  kQTTIFFCompression_PackBits = 32773,
};
// OpenADefaultComponent('grex', subtype) opens one; invalidComponentID for a
// subtype that has none. Output goes to a path, a file location (FSSpec) or a data
// reference (Movies.h makes one from a file reference).
ComponentResult GraphicsExportSetInputGWorld(GraphicsExportComponent ci, GWorldPtr gworld);
// A CoreGraphics image as the input, kept (retained) until another input is
// set or the exporter closes. Without a depth set, the file has the image's
// own channels: grey, RGB, or RGB with alpha when the image has alpha (stored
// straight, premultiplied samples divided back); 16-bit components stay 16
// bits where the format holds them.
ComponentResult GraphicsExportSetInputCGImage(GraphicsExportComponent ci, CGImageRef image);
ComponentResult GraphicsExportSetDepth(GraphicsExportComponent ci, SInt32 depth);
ComponentResult GraphicsExportSetCompressionQuality(GraphicsExportComponent ci, UInt32 quality);
ComponentResult GraphicsExportSetCompressionMethod(GraphicsExportComponent ci, SInt32 method);
// Where the file goes, as an absolute path. The File Manager's forms
// (file location, data reference) resolve to this.
ComponentResult SkyloomGraphicsExportSetOutputPath(GraphicsExportComponent ci, const std::string& path);
ComponentResult GraphicsExportSetOutputFile(GraphicsExportComponent ci, const FSSpec* theFile);
ComponentResult GraphicsExportSetOutputDataReference(GraphicsExportComponent ci, Handle dataRef, OSType dataRefType);
ComponentResult GraphicsExportDoExport(GraphicsExportComponent ci, UInt32* actualSizeWritten);

// What an export was asked for; tests install a recorder to see every export
// (the file is still written unless the recorder returns nonzero, which then
// becomes the export's status).
struct GraphicsExportRecord {
  OSType subtype;
  SInt32 depth;
  UInt32 quality;
  SInt32 compressionMethod;  // 0 = none set
  OSType pixelFormat;        // of the input picture (a CGImage: the format of its pixel size)
  SInt32 width;
  SInt32 height;
  std::string path;
};
void SkyloomSetGraphicsExportRecorder(std::function<OSErr(const GraphicsExportRecord&)> recorder);

// Internal: the exporter of a subtype (used by OpenADefaultComponent).
OSErr SkyloomOpenGraphicsExporter(OSType subtype, ComponentInstance* ci);
