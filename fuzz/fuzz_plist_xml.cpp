// Preference domains in XML property-list form: any bytes must parse or be
// refused cleanly, and whatever parses must write out and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/corefoundation/CFPropertyListXML.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SkyloomPlistNode root;
  if (!SkyloomParseXMLPropertyList(data, size, &root)) return 0;
  const std::string once = SkyloomWriteXMLPropertyList(root);
  SkyloomPlistNode again;
  if (!SkyloomParseXMLPropertyList(reinterpret_cast<const uint8_t*>(once.data()), once.size(), &again)) abort();
  if (SkyloomWriteXMLPropertyList(again) != once) abort();
  return 0;
}
