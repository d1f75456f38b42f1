// The localized strings table reader: any bytes must parse or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/corefoundation/CFBundle.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::map<std::string, std::string> table;
  SkyloomParseStringsTable(std::string_view(reinterpret_cast<const char*>(data), size), table);
  return 0;
}
