#include "platform/coreservices/CNumericLocale.h"

locale_t SkyloomCNumericLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}
