// Component Manager stand-in: the instances of our exporters and importers
// share one record type, so CloseComponent closes either.
#pragma once
#include "platform/coreservices/MacTypes.h"

struct ComponentInstanceRecord {
  OSType componentType = 0;
  OSType componentSubType = 0;
  ComponentInstanceRecord();
  ComponentInstanceRecord(const ComponentInstanceRecord&) = delete;
  ComponentInstanceRecord& operator=(const ComponentInstanceRecord&) = delete;
  virtual ~ComponentInstanceRecord();
};
typedef ComponentInstanceRecord* ComponentInstance;
typedef SInt32 ComponentResult;

enum : OSErr {
  invalidComponentID = -3000,
  badComponentInstance = -2018,
  cantFindHandler = -2003,
  noCodecErr = -8961,
  codecErr = -8960,
  codecBadDataErr = -8969,
  noMediaHandler = -2006,
};

// 'grex' opens a graphics exporter of the subtype, 'grip' a graphics importer.
OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci);
OSErr CloseComponent(ComponentInstance ci);
// Component instances alive now (tests check that every path closes its own).
long SkyloomLiveComponentCount();
