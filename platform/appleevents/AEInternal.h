// What a descriptor's data handle holds, shared by the descriptor calls and
// the event delivery.
#pragma once
#include <string>
#include <vector>

#include "platform/appleevents/AEDataModel.h"

struct SkyloomAEParam {
  AEKeyword keyword;
  DescType type;
  std::vector<UInt8> bytes;
};

struct SkyloomAEData {
  std::vector<std::string> paths;      // a list of file-system items
  AEEventClass eventClass = 0;         // an Apple event: its class and id
  AEEventID eventID = 0;
  std::vector<SkyloomAEParam> params;  // and its parameters, in the order put
};
