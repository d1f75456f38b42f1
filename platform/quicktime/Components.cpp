#include "platform/quicktime/Components.h"

#include <atomic>

#include "platform/quicktime/GraphicsExport.h"
#include "platform/quicktime/GraphicsImport.h"

namespace {
std::atomic<long> gLiveComponents{0};
}

ComponentInstanceRecord::ComponentInstanceRecord() { ++gLiveComponents; }
ComponentInstanceRecord::~ComponentInstanceRecord() { --gLiveComponents; }

OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci) {
  if (!ci) return paramErr;
  *ci = nullptr;
  if (componentType == GraphicsExporterComponentType)
    return SkyloomOpenGraphicsExporter(componentSubType, ci);
  if (componentType == GraphicsImporterComponentType)
    return SkyloomOpenGraphicsImporter(componentSubType, ci);
  return invalidComponentID;
}

OSErr CloseComponent(ComponentInstance ci) {
  if (!ci) return badComponentInstance;
  delete ci;
  return noErr;
}

long SkyloomLiveComponentCount() { return gLiveComponents.load(); }
