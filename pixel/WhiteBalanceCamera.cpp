#include "pixel/WhiteBalanceCamera.h"

#include <atomic>

namespace {
std::atomic<MyWhiteBalanceSendProc> gSendProc{nullptr};
}

MyWhiteBalanceSendProc mySetWhiteBalanceSendProc(MyWhiteBalanceSendProc proc) {
  return gSendProc.exchange(proc);
}

OSStatus mySendWhiteBalanceValue(MyDCAMCameraStruct* camera, UInt32 feature, SInt32 selector,
                                 UInt32 value) {
  const MyWhiteBalanceSendProc proc = gSendProc.load();
  if (proc == nullptr) return paramErr;
  return proc(camera, feature, selector, value);
}
