// Walking the window list from front to back.
#include <algorithm>

#include "platform/hitoolbox/ModelInternal.h"

using namespace skyloom::ui::internal;

WindowRef GetNextWindow(WindowRef inWindow) {
  if (!isLiveWindow(inWindow)) return nullptr;
  const auto& v = model().windows;
  auto it = std::find(v.begin(), v.end(), inWindow);
  if (it == v.end() || ++it == v.end()) return nullptr;
  return *it;
}

Boolean IsValidWindowPtr(WindowRef inWindow) { return isLiveWindow(inWindow); }
