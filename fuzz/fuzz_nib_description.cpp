// The nib description reader: any text must parse or fail with a message.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/hitoolbox/NibDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  skyloom::ui::NibDescription nib;
  std::string error;
  skyloom::ui::ParseNibDescription(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz", nib, error);
  return 0;
}
