// The magnifier beside a selection window's image: an EnlargedView shows the
// image around the mouse three times enlarged. Every window that has one
// registers its own subclass of the base view class with its own record and
// blit, and all of them share the controller logic, the blit steps and the
// pointer-to-image-point conversion here. Main thread only: the controller,
// blits and conversions run from the event loop while the owner runs its
// application-modal loop.
#pragma once
#include "platform/hitoolbox/HIToolbox.h"

// The fields of an owner's record that the controller touches, and its blit.
struct EnlargedViewOwner {
  void* record;
  HIObjectRef* instance;   // stored at construction
  const UInt32* showFlag;  // non-zero: the magnifier may draw
  const UInt32* centreX;   // the last point shown, image coordinates
  const UInt32* centreY;
  void (*blit)(void* record, UInt32 x, UInt32 y);
};

// The seven events every subclass registers, in order: object construct,
// initialize and destruct; control initialize, draw, activate, deactivate.
constexpr UInt32 kEnlargedViewEventCount = 7;
extern const EventTypeSpec kEnlargedViewEvents[kEnlargedViewEventCount];

// The shared controller. A null owner gives eventNotHandledErr for every
// event. Construct stores the instance and hands the record back as the
// instance data (the write's status); destruct is handled and does nothing;
// control initialize passes on, then adds kControlSupportsEmbedding to the
// features (the write's status); draw, activate and deactivate call the blit
// at the stored centre when the show flag is set and give 0 either way;
// everything else is not handled.
OSStatus myEnlargedViewController(EventHandlerCallRef call, EventRef event, const EnlargedViewOwner* owner);

// Registers the owner's subclass of "com.apple.hiview" with its controller,
// the seven events and the record as construct data; the registration's
// status (the reference is null on failure).
OSStatus myRegisterEnlargedViewClass(CFStringRef classID, EventHandlerUPP controller, void* record,
                                     HIObjectClassRef* outClass);
// Makes a view of the class, adds it to the window's content view, gives it
// the frame of {'ENLV', 0} and shows it; null (and nothing left over) when a
// step fails.
HIObjectRef myCreateEnlargedView(WindowRef window, CFStringRef classID);
// Unregisters the class; the reference is cleared only when that succeeded.
void myUnregisterEnlargedViewClass(HIObjectClassRef* classRef);

// Where a blit reads: base null means the source is not available now.
struct EnlargedViewSource {
  const void* base;
  SInt32 bitsPerPixel;  // 16, 32 or 48
  UInt32 width, height, rowBytes;
};
// The blit steps shared by every owner: into the window's port, the bounds of
// {'ENLV', 0} inset by 2 (w x h) filled white, then, when show is set, the
// source block of w/3 x h/3 pixels around (x, y) three times enlarged. The
// buffer (h x (4 w + 16) + 64 bytes) is made on first use and kept in
// *buffer; without it only the white is drawn. An unavailable source draws
// the buffer as it was.
void myEnlargedViewBlit3X(WindowRef window, const EnlargedViewSource* source, UInt32 show, UInt32 x, UInt32 y,
                          UInt8** buffer);

// One axis of the pointer clamped into a frame: at or before the origin 0,
// at or past origin + size the size, else the distance from the origin.
UInt32 myEnlargedViewClampAxis(SInt32 coordinate, SInt32 origin, SInt32 size);
// The image point under the mouse of a mouse event: the window-local mouse
// (kEventParamWindowMouseLocation, else the global kEventParamMouseLocation
// made local) clamped into the frame (window-local), plus the scroll origin,
// divided by the zoom and truncated. eventParameterNotFoundErr without a
// mouse location (the outputs then untouched).
OSStatus myEnlargedViewImagePoint(EventRef event, WindowRef window, const Rect& frame, double originX,
                                  double originY, double zoom, UInt32* x, UInt32* y);
