// The start stamp reader: any text of up to 254 bytes (what a time-code
// track's source name holds) reads as a time or as 0.0, never past its end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "photometry/MovieRealTime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 254) size = 254;
  // Exactly as long as the input, so a read past the terminator is caught.
  std::vector<char> text(size + 1);
  if (size) std::memcpy(text.data(), data, size);
  text[size] = 0;
  const double t = myRealTimeFromStartStamp(text.data());
  char stamp[kTableTimeStampSize];
  myMakeTableTimeStamp(t, t > 0.0 ? 1 : 0, stamp);
  return 0;
}
