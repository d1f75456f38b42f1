// Component bundle manifests and resource files: any bytes must parse or fail
// cleanly, through both readers.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/quicktime/Components.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  SkyloomComponentManifest manifest;
  SkyloomParseComponentManifest(text, &manifest);
  std::vector<UInt8> bytes;
  SkyloomParseResourceText(text, &bytes);
  return 0;
}
