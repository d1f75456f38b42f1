// The camera handle: one per open camera, allocated zeroed by
// ORX_DCAM_OpenACamera and freed by ORX_DCAM_CloseACamera.
//
// Fields read outside the library: mHasVectorUnit and mIsPPC970 (frame
// converters and recorder), mPixelFormat (still-image saving) and
// mProperties (copied out whole for the application).
//
// Fields shared between threads (run, alive, frame-ready, callback-busy,
// pending-signal counts) change only through atomic operations.
#pragma once
#include <pthread.h>

#include "camera_driver/ORX_DCAM.h"
#include "platform/iokit/IOFireWireLib.h"
#include "platform/iokit/IOUSBLib.h"

struct MyDCAMCameraStruct {
  // ---- I/O thread (run loop of the isochronous dispatcher and USB event source) ----
  CFRunLoopRef mIORunLoop;
  CFRunLoopSourceRef mIORunLoopSource;
  pthread_t mIOThread;
  pthread_mutex_t mIOMutex;
  pthread_cond_t mIOCond;
  pthread_attr_t mIOThreadAttr;
  UInt8 mIOThreadObjectsMade;  // mutex, condition and attributes exist
  SInt32 mIORun;
  SInt32 mIOAlive;

  // ---- delivery thread ----
  pthread_t mWFFSThread;
  pthread_mutex_t mWFFSMutex;
  pthread_cond_t mWFFSCond;
  pthread_attr_t mWFFSThreadAttr;
  UInt8 mWFFSThreadObjectsMade;
  SInt32 mWFFSAlive;
  SInt32 mWFFSRun;
  MyDCAMFrameCallback mFrameCallback;
  void* mCallbackRefCon;

  // ---- FireWire objects ----
  IOCFPlugInInterface** mFWPlugIn;
  IOFireWireLibDeviceRef mFWDevice;
  UInt32 mFWInterfaceGeneration;  // 3 newer device interface, 2 older
  UInt32 mFWLibVersion;           // IOFireWireLib bundle version, 0 when unknown
  mach_port_t mMasterPort;
  io_iterator_t mFWIterator;
  io_service_t mFWUnit;
  UInt32 mCommandBase;            // low 32 bits; the high 16 bits are always 0xFFFF
  IOFireWireLibIsochChannelRef mIsochChannel;
  IOFireWireLibLocalIsochPortRef mLocalIsochPort;
  IOFireWireLibRemoteIsochPortRef mRemoteIsochPort;
  SInt32 mLocalPortFinalized;
  IOFireWireLibDCLCommandPoolRef mDCLCommandPool;
  DCLCommandPtr mDCLProgram;      // the program's first label
  DCLCommandPtr* mDCLUpdateList;
  void* mRecvRegion;
  size_t mRecvRegionSize;
  UInt8* mSegmentBase[3];
  DCLLabelPtr mSegmentLabel[3];
  DCLCommandPtr mSegmentFirstRecv[3];
  DCLJumpPtr mSegmentJump[3];
  DCLCallProcPtr mSegmentCallProc[3];
  UInt32* mSegmentTimeStamp[3];
  double mCycleTimeAccumulator;   // ms
  double mPreviousPacketTime;     // ms
  UInt32 mCurrentSegment;
  UInt32 mPacketsPerSegment;
  UInt32 mBusSpeed;               // IOKit speed code, 2 = S400
  UInt32 mMaxPacketBytes;

  // ---- USB objects ----
  io_service_t mUSBDeviceService;
  IOUSBDeviceRef mUSBDevice;
  io_service_t mUSBInterfaceService;
  IOUSBInterfaceRef mUSBInterface;
  UInt8 mUSBNumConfigurations;
  UInt8 mUSBNumEndpoints;
  UInt8 mUSBPipeIndex;            // the last pipe whose properties were read
  UInt8 mUSBPipeDirection;
  UInt8 mUSBPipeNumber;
  UInt8 mUSBPipeTransferType;
  UInt16 mUSBPipeMaxPacketSize;
  UInt8 mUSBPipeInterval;
  UInt32 mUSBBulkReadSize;
  UInt8 mUSBStreamPipe;           // 1
  IOReturn mUSBLastBulkStatus;

  // ---- video settings ----
  UInt32 mF7Left, mF7Top;
  UInt32 mWidth, mHeight;
  UInt32 mBytesReceived;          // of the frame being assembled
  UInt32 mFrameByteCount;
  UInt32 mFormat;                 // 9 = none set
  UInt32 mMode;                   // 32 = none set
  UInt32 mRate;                   // 9 = none set
  UInt32 mBitsPerPixel;
  UInt32 mBytesPerPacket;
  UInt32 mRecvPacketSize;         // bytes per packet + 4

  // ---- frame ring and hand-off ----
  UInt32 mFrameCounter;
  UInt32 mDeliveredSlot;          // 0xFF = none yet
  UInt32 mFillingSlot;
  SInt32 mFrameReady;
  SInt32 mCallbackBusy;
  SInt32 mPendingSignals;
  UInt8* mSlot[3];
  void* mRingBlock;
  UInt64 mLastFrameStamp;         // µs
  double mLastFrameInterval;      // ms
  double mAccumulatedTime;        // ms

  // ---- byte flags ----
  UInt8 mChannelAllocated;
  UInt8 mTransmitting;
  UInt8 mDeliveryEnabled;
  UInt8 mWaitForFrameStart;
  UInt8 mFWCallbackDispatcherAdded;
  UInt8 mIsochDispatcherAdded;
  UInt8 mFormatSet;
  UInt8 mHasVectorUnit;
  UInt8 mIsPPC970;

  // ---- identity ----
  UInt32 mIIDCVersion;            // Unit_SW_Version, 0x100 when absent, 0x103 for USB
  UInt32 mVendor;                 // GUID high word, or 0x1E10 for USB
  UInt32 mGUIDLow;                // GUID low word, or the USB serial
  UInt32 mCameraID;               // the id passed to open (for USB the serial)
  UInt32 mVendorCopy;
  char mName[80];

  // ---- pixel description ----
  OSType mPixelFormat;            // camera pixel-format code of the current mode

  MyDCAMCameraPropertiesStruct mProperties;
  UInt32 mAbsOffset[kDCAMFeatureCount];  // absolute-value block offsets from the base, 0 = none

  // ---- 16-bit sample handling ----
  UInt32 mUpShift;                // 0..7
  UInt8 mSwap16;
};
