#include "media/CGImageSave.h"

#include "platform/coreservices/CoreServices.h"
#include "platform/quicktime/Components.h"
#include "platform/quicktime/DataReferences.h"
#include "platform/quicktime/GraphicsExport.h"

OSStatus mySaveCGImageRefToFileFSRef(FSRef fileRef, OSType exporterSubtype, CGImageRef image) {
  ComponentInstance exporter = nullptr;
  OSStatus err = OpenADefaultComponent(GraphicsExporterComponentType, exporterSubtype, &exporter);
  if (err != noErr) return err;
  Handle dataRef = nullptr;
  OSType dataRefType = 0;
  err = GraphicsExportSetInputCGImage(exporter, image);
  if (err == noErr) err = QTNewDataReferenceFromFSRef(&fileRef, 0, &dataRef, &dataRefType);
  if (err == noErr) err = GraphicsExportSetOutputDataReference(exporter, dataRef, dataRefType);
  if (err == noErr) err = GraphicsExportDoExport(exporter, nullptr);
  CloseComponent(exporter);
  if (dataRef) DisposeHandle(dataRef);
  return err;
}
