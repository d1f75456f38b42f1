#include "media/SingleFrameSave.h"

#include "media/BayerDemosaic.h"
#include "media/CameraHandleFields.h"
#include "media/FITSWriter.h"
#include "media/MediaMemory.h"
#include "media/RawFrameConversion.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/GraphicsExport.h"

namespace {

constexpr OSStatus kIOReturnNoDevice = OSStatus(0xE00002C0);
constexpr UInt32 kRaw = FOUR_CHAR_CODE("raw ");
constexpr UInt32 kUseCameraCode = FOUR_CHAR_CODE("ARGB");
constexpr OSType kFITS = FOUR_CHAR_CODE("FITS");

// Pictures have 16-bit bounds.
bool fitsPicture(UInt32 width, UInt32 height) { return width <= 0x7FFF && height <= 0x7FFF; }

// The exporter steps shared by 32-bit pictures and 16-bit buffers; the depth
// and quality statuses are not errors of the save.
OSStatus exportPicture(const FSSpec& location, OSType exporterType, GWorldPtr picture, SInt32 depth, UInt32 quality) {
  ComponentInstance exporter = nullptr;
  OSStatus err = OpenADefaultComponent(GraphicsExporterComponentType, exporterType, &exporter);
  if (err != noErr) return err;
  err = GraphicsExportSetInputGWorld(exporter, picture);
  if (err == noErr) {
    GraphicsExportSetDepth(exporter, depth);
    GraphicsExportSetCompressionQuality(exporter, quality);
    err = GraphicsExportSetOutputFile(exporter, &location);
  }
  if (err == noErr) err = GraphicsExportDoExport(exporter, nullptr);
  CloseComponent(exporter);
  return err;
}

// A 32-bit picture of the frame, as the preview shows it. On success the
// caller owns *picture.
OSStatus frameToPicture(MyDCAMCameraStruct* camera, const void* frame, UInt32 width, UInt32 height, UInt32 code,
                        UInt32 bits, GWorldPtr* picture) {
  *picture = nullptr;
  if (!fitsPicture(width, height)) return paramErr;
  const Rect bounds{0, 0, SInt16(height), SInt16(width)};
  OSStatus err = NewGWorld(picture, 32, &bounds, nullptr, nullptr, 0);
  if (err != noErr) {
    *picture = nullptr;
    return err;
  }
  PixMapHandle pixels = GetGWorldPixMap(*picture);
  if (!LockPixels(pixels)) {
    err = memFullErr;
  } else {
    err = ORXDCAMConvertRawFrameToARGB32(camera, frame, width, height, code, bits, GetPixBaseAddr(pixels),
                                         UInt32(GetPixRowBytes(pixels)));
    UnlockPixels(pixels);
  }
  if (err != noErr) {
    DisposeGWorld(*picture);
    *picture = nullptr;
  }
  return err;
}

OSStatus saveThroughPicture(MyDCAMCameraStruct* camera, const void* frame, UInt32 width, UInt32 height, UInt32 code,
                            UInt32 bits, const FSSpec& location, OSType kind, SInt32 depth) {
  GWorldPtr picture;
  OSStatus err = frameToPicture(camera, frame, width, height, code, bits, &picture);
  if (err != noErr) return err;
  err = myGWTo8bppFile(location, kind, picture, depth);
  DisposeGWorld(picture);
  return err;
}

OSStatus saveFITS(MyDCAMCameraStruct* camera, const void* frame, UInt32 width, UInt32 height, UInt32 code,
                  UInt32 bits, const FSSpec& location) {
  if (code == kRaw && (bits == 8 || bits == 16)) return myMonoToFITSFileFSSPEC(location, frame, bits / 8, width, height);
  GWorldPtr picture;
  OSStatus err = frameToPicture(camera, frame, width, height, code, bits, &picture);
  if (err != noErr) return err;
  UInt8* luma = static_cast<UInt8*>(myMediaAlloc(size_t(width) * height + 16));
  if (luma == nullptr) {
    DisposeGWorld(picture);
    return memFullErr;
  }
  PixMapHandle pixels = GetGWorldPixMap(picture);
  const UInt8* base = reinterpret_cast<const UInt8*>(GetPixBaseAddr(pixels));
  const size_t rowBytes = size_t(GetPixRowBytes(pixels));
  UInt8* out = luma;
  for (UInt32 y = 0; y < height; ++y) {
    const UInt8* p = base + y * rowBytes;
    for (UInt32 x = 0; x < width; ++x, p += 4)
      *out++ = UInt8((306u * p[1] + 601u * p[2] + 117u * p[3]) >> 10);
  }
  err = myMonoToFITSFileFSSPEC(location, luma, 1, width, height);
  myMediaFree(luma);
  DisposeGWorld(picture);
  return err;
}

// The 16-bit demosaic of each raw Bayer code.
struct BayerSaveKernel {
  const char* codes;  // four-character codes, each followed by a space
  BayerDemosaicKernel kernel;
};
const BayerSaveKernel kBayerSaveKernels[] = {
    {"blRG blBG ", BayerRGGB16_LQ_RGB48},
    {"blGR blGB ", BayerGRBG16_LQ_RGB48},
    {"bmRG bmBG ", BayerRGGB16_MQ_RGB48},
    {"bmGR bmGB ", BayerGRBG16_MQ_RGB48},
    {"bhRG bhBG ", BayerRGGB16_HQ_RGB48},
    {"bhGR bhGB ", BayerGRBG16_HQ_RGB48},
    {"mlRG mlGB mmRG mmGB mHRG mHGB ", BayerRGGB16_MONO16},
    {"mlGR mlBG mmGR mmBG mHGR mHBG ", BayerGRBG16_MONO16},
};

BayerDemosaicKernel bayerSaveKernel(UInt32 code) {
  for (const BayerSaveKernel& k : kBayerSaveKernels) {
    for (const char* c = k.codes; *c; c += 5) {
      const UInt32 v = (UInt32(UInt8(c[0])) << 24) | (UInt32(UInt8(c[1])) << 16) | (UInt32(UInt8(c[2])) << 8) |
                       UInt8(c[3]);
      if (v == code) return k.kernel;
    }
  }
  return nullptr;
}

}  // namespace

OSStatus myGWTo8bppFile(FSSpec location, OSType exporterType, GWorldPtr picture, SInt32 depth) {
  const UInt32 quality = (exporterType == kQTFileTypeJPEG || exporterType == kQTFileTypePNG) ? 512 : 1024;
  return exportPicture(location, exporterType, picture, depth, quality);
}

OSStatus myBufferTo16bppFile(FSSpec location, OSType exporterType, const void* samples, UInt32 width, UInt32 height,
                             Boolean is48Bit) {
  if (samples == nullptr || !fitsPicture(width, height)) return paramErr;
  const Rect bounds{0, 0, SInt16(height), SInt16(width)};
  GWorldPtr picture = nullptr;
  OSStatus err = NewGWorldFromPtr(&picture, is48Bit ? k48RGBPixelFormat : k16GrayPixelFormat, &bounds, nullptr,
                                  nullptr, 0, static_cast<Ptr>(const_cast<void*>(samples)),
                                  SInt32(width * (is48Bit ? 6 : 2)));
  if (err != noErr) return err;
  err = exportPicture(location, exporterType, picture, is48Bit ? 24 : 40, 1024);
  DisposeGWorld(picture);
  return err;
}

OSStatus myBayerBufferTo16bppFile(UInt32 pixelFormat, const UInt16* samples, UInt32 width, UInt32 height,
                                  FSSpec location, OSType exporterType) {
  const BayerDemosaicKernel kernel = bayerSaveKernel(pixelFormat);
  if (kernel == nullptr || samples == nullptr || !fitsPicture(width, height)) return paramErr;
  const UInt8 startRowFlag = (char(pixelFormat >> 8) == 'R' || char(pixelFormat) == 'R') ? 1 : 0;
  const bool colour = char(pixelFormat >> 24) == 'b';
  const UInt32 bytesPerPixel = colour ? 6 : 2;
  void* image = myMediaAlloc(size_t(bytesPerPixel) * width * height + 16);
  if (image == nullptr) return memFullErr;
  kernel(samples, image, bytesPerPixel * width, width, height, startRowFlag);
  const OSStatus err = myBufferTo16bppFile(location, exporterType, image, width, height, colour);
  myMediaFree(image);
  return err;
}

OSStatus ORXDCAMSaveRAWFrametoDisk(MyDCAMCameraStruct* camera, const void* frame, UInt32 width, UInt32 height,
                                   UInt32 bits, FSSpec location, OSType saveKind, UInt32 pixelFormat) {
  if (camera == nullptr) return kIOReturnNoDevice;
  if (frame == nullptr) return paramErr;

  const bool fromCamera = pixelFormat == kUseCameraCode;
  const UInt32 code = fromCamera ? myCameraPixelFormat(camera) : pixelFormat;
  const bool wide = fromCamera ? (code == kRaw && (bits == 16 || bits == 48)) : bits > 8;

  switch (saveKind) {
    case kQTFileTypeJPEG:
    case kQTFileTypePicture:
    case kQTFileTypeBMP:
    case kQTFileTypePhotoShop:
      return saveThroughPicture(camera, frame, width, height, code, bits, location, saveKind, 32);

    case kQTFileTypePNG:
    case kQTFileTypeTIFF: {
      if (!wide) {
        const bool grey = code == kRaw || char(code >> 24) == 'm';
        return saveThroughPicture(camera, frame, width, height, code, bits, location, saveKind,
                                  grey && bits == 8 ? 40 : 24);
      }
      if (fromCamera) return myBufferTo16bppFile(location, saveKind, frame, width, height, bits == 48);
      if (bits == 12) {
        if (bayerSaveKernel(code) == nullptr) return paramErr;
        UInt16* unpacked = static_cast<UInt16*>(myMediaAlloc(size_t(width) * height * 2 + 16));
        if (unpacked == nullptr) return memFullErr;
        myUnpack12BitTo16(frame, unpacked, width, height);
        const OSStatus err = myBayerBufferTo16bppFile(code, unpacked, width, height, location, saveKind);
        myMediaFree(unpacked);
        return err;
      }
      // The demosaic reads two bytes a sample; a 9- to 15-bit frame is smaller.
      if (bits < 16) return paramErr;
      return myBayerBufferTo16bppFile(code, static_cast<const UInt16*>(frame), width, height, location, saveKind);
    }

    case kFITS:
      return saveFITS(camera, frame, width, height, code, bits, location);

    default:
      return paramErr;
  }
}
