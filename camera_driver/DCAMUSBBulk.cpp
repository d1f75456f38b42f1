// USB bulk reception: queued asynchronous reads of whole frames on pipe 1.
#include "camera_driver/DCAMInternal.h"

void myStopQuedAsynchBulkReadsUSB(MyDCAMCameraStruct* camera) {
  (void)camera;  // nothing is queued until transmission starts
}
