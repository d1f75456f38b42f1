// 'FIMO': picture files into one movie of uncompressed 16-bit RGB frames
// ('b48r', big-endian samples), one picture a frame in name order at 15
// frames a second. Later pictures are fitted to the first one's size: cropped
// at the right and bottom, or padded there with black.
//
// Threads: the command runs on the main thread (the file and save dialogs,
// the progress window) and hands the work to a detached worker through the
// batch job record, its handshake and its finishing on the main thread
// (BatchProcessing.h). Only the worker makes movie calls for the new movie.
#pragma once
#include "image_windows/BatchProcessing.h"
#include "platform/coreservices/MacTypes.h"
#include "platform/quicktime/ImageCompression.h"

// 0 when the worker was started, the user cancelled or a batch is already
// running; -1 without memory for the job; else the failed set-up's code
// (shown in an alert unless it is -128).
OSErr myFilesTo16BitRGB48Movie();
// The worker of 'FIMO' (the thread's entry; job is the record). Returns null.
void* myAddFramesToMovie(void* job);

// ---- The movie's parts ----
// The sample description of the frames: 'b48r', version and revision 1,
// vendor 'appl', lossless spatial quality, 72 dpi, one frame a sample, depth
// 48, no colour table; host order (the movie writes it big-endian).
void myFillRGB48ImageDescription(ImageDescription* desc, UInt32 width, UInt32 height);
// One picture (host-order RGB48, srcRowBytes a row) into a sample of
// width x height pixels of 6 bytes, rows without padding, every value
// big-endian. A picture narrower or lower than the sample leaves the rest 0.
void myRGB48ToBigEndianSample(const UInt16* picture, UInt32 pictureWidth, UInt32 pictureHeight,
                              UInt32 srcRowBytes, UInt8* sample, UInt32 width, UInt32 height);
