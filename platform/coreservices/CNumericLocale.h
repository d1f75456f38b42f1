// Numbers in preferences, logs, edit fields and formatted strings are written
// and read in the C numeric locale, whatever locale the user runs in, so that
// a file written under one locale reads back under any other.
#pragma once
#include <locale.h>

// The C locale, made once and kept for the process.
locale_t SkyloomCNumericLocale();

// Puts the calling thread in the C locale for the scope's lifetime (printf and
// strtod families), then back in the one it had.
class SkyloomCLocaleScope {
 public:
  SkyloomCLocaleScope() : previous_(uselocale(SkyloomCNumericLocale())) {}
  ~SkyloomCLocaleScope() { uselocale(previous_); }
  SkyloomCLocaleScope(const SkyloomCLocaleScope&) = delete;
  SkyloomCLocaleScope& operator=(const SkyloomCLocaleScope&) = delete;

 private:
  locale_t previous_;
};
