#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/appleevents/AppleEvents.h"

namespace {

constexpr AEEventClass kClass = FOUR_CHAR_CODE("TstC");
constexpr AEEventID kID = FOUR_CHAR_CODE("tsti");

struct Event {
  AppleEvent e;
  Event() { EXPECT_EQ(AECreateAppleEvent(kClass, kID, nullptr, kAutoGenerateReturnID, kAnyTransactionID, &e), noErr); }
  ~Event() { AEDisposeDesc(&e); }
};

TEST(AppleEventParams, StoredValuesReadBackCoercedToLongOrRefused) {
  const SInt16 s16 = -7;
  const UInt32 big = 0x80000000u;
  const SInt64 wide = 42;
  const UInt8 yes = 1;
  struct Case {
    const char* what;
    DescType type;
    const void* data;
    Size size;
    OSErr expected;
    SInt32 value;
  } cases[] = {
      {"short widened", typeSInt16, &s16, 2, noErr, -7},
      {"comp that fits", typeSInt64, &wide, 8, noErr, 42},
      {"bool", typeBoolean, &yes, 1, noErr, 1},
      {"true", typeTrue, nullptr, 0, noErr, 1},
      {"decimal text", typeChar, "12", 2, noErr, 12},
      {"magn too large", typeUInt32, &big, 4, errAECoercionFail, 0},
      {"text not a number", typeChar, "12a", 3, errAECoercionFail, 0},
      {"empty text", typeChar, "", 0, errAECoercionFail, 0},
      {"file reference", typeFSRef, "abcd", 4, errAECoercionFail, 0},
      {"short of the wrong size", typeSInt16, &big, 4, errAECoercionFail, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Event ev;
    ASSERT_EQ(AEPutParamPtr(&ev.e, keyDirectObject, c.type, c.data, c.size), noErr);
    SInt32 v = 0;
    DescType type = 0;
    Size size = 0;
    EXPECT_EQ(AEGetParamPtr(&ev.e, keyDirectObject, typeLongInteger, &type, &v, sizeof v, &size), c.expected);
    if (c.expected == noErr) {
      EXPECT_EQ(v, c.value);
      EXPECT_EQ(type, typeLongInteger);
      EXPECT_EQ(size, 4);
    }
  }
}

TEST(AppleEventParams, MissingReplacedWildcardAndShortBuffer) {
  Event ev;
  SInt32 v = 5;
  EXPECT_EQ(AEGetParamPtr(&ev.e, keyDirectObject, typeLongInteger, nullptr, &v, sizeof v, nullptr),
            errAEDescNotFound);
  EXPECT_EQ(v, 5);
  SInt32 one = 1, two = 300;
  ASSERT_EQ(AEPutParamPtr(&ev.e, keyDirectObject, typeLongInteger, &one, 4), noErr);
  ASSERT_EQ(AEPutParamPtr(&ev.e, keyDirectObject, typeLongInteger, &two, 4), noErr);
  DescType type = 0;
  Size size = 0;
  ASSERT_EQ(AEGetParamPtr(&ev.e, keyDirectObject, typeWildCard, &type, &v, sizeof v, &size), noErr);
  EXPECT_EQ(v, 300);
  EXPECT_EQ(type, typeLongInteger);
  // Two bytes of room: two bytes copied, the full size reported.
  UInt8 room[3] = {9, 9, 9};
  ASSERT_EQ(AEGetParamPtr(&ev.e, keyDirectObject, typeLongInteger, nullptr, room, 2, &size), noErr);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(memcmp(room, &two, 2), 0);
  EXPECT_EQ(room[2], 9);
  // A value out of range for a short, and for a Boolean.
  EXPECT_EQ(AEGetParamPtr(&ev.e, keyDirectObject, typeSInt16, nullptr, room, 2, nullptr), noErr);
  EXPECT_EQ(AEGetParamPtr(&ev.e, keyDirectObject, typeBoolean, nullptr, room, 1, nullptr), errAECoercionFail);

  AEEventClass cls = 0;
  ASSERT_EQ(AEGetAttributePtr(&ev.e, keyEventClassAttr, typeType, &type, &cls, sizeof cls, nullptr), noErr);
  EXPECT_EQ(cls, kClass);
}

TEST(AppleEventParams, DescriptorsWithoutDataRefuseParameters) {
  AppleEvent none;
  AEInitializeDesc(&none);
  const UInt8 yes = 1;
  EXPECT_EQ(AEPutParamPtr(&none, keyDirectObject, typeBoolean, &yes, 1), errAENotAEDesc);
  EXPECT_EQ(AEGetParamPtr(&none, keyDirectObject, typeBoolean, nullptr, nullptr, 0, nullptr), errAENotAEDesc);
  AEDescList files;
  ASSERT_EQ(SkyloomAECreateFileList({"/tmp"}, &files), noErr);
  EXPECT_EQ(AEPutParamPtr(&files, keyDirectObject, typeBoolean, &yes, 1), errAENotAEDesc);
  AEDisposeDesc(&files);
}

// A handler that answers its direct parameter plus the refcon, and records
// whether it had a reply to write.
int gCalls = 0;
bool gReplyHadData = false;
OSErr AddHandler(const AppleEvent* event, AppleEvent* reply, SRefCon refcon) {
  gCalls++;
  gReplyHadData = reply->dataHandle != nullptr;
  SInt32 v = 0;
  if (OSErr err = AEGetParamPtr(event, keyDirectObject, typeLongInteger, nullptr, &v, sizeof v, nullptr)) return err;
  v += SInt32(refcon);
  if (reply->dataHandle) return AEPutParamPtr(reply, keyDirectObject, typeLongInteger, &v, sizeof v);
  return noErr;
}
OSErr OtherHandler(const AppleEvent*, AppleEvent*, SRefCon) { return noErr; }

TEST(AppleEventDelivery, InstalledHandlerAnswersWithAndWithoutReply) {
  gCalls = 0;
  ASSERT_EQ(AEInstallEventHandler(kClass, kID, NewAEEventHandlerUPP(AddHandler), 100, false), noErr);
  Event ev;
  const SInt32 two = 2;
  ASSERT_EQ(AEPutParamPtr(&ev.e, keyDirectObject, typeLongInteger, &two, 4), noErr);

  AppleEvent reply;
  ASSERT_EQ(AESend(&ev.e, &reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr), noErr);
  EXPECT_TRUE(gReplyHadData);
  SInt32 answer = 0;
  ASSERT_EQ(AEGetParamPtr(&reply, keyDirectObject, typeLongInteger, nullptr, &answer, 4, nullptr), noErr);
  EXPECT_EQ(answer, 102);
  EXPECT_EQ(AEGetParamPtr(&reply, keyErrorNumber, typeLongInteger, nullptr, &answer, 4, nullptr), errAEDescNotFound);
  AEDisposeDesc(&reply);

  ASSERT_EQ(AESend(&ev.e, &reply, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr), noErr);
  EXPECT_FALSE(gReplyHadData);
  EXPECT_EQ(reply.dataHandle, nullptr);
  EXPECT_EQ(gCalls, 2);

  // A failing handler: its status comes back, and into the reply.
  AppleEvent empty;
  ASSERT_EQ(AECreateAppleEvent(kClass, kID, nullptr, 0, 0, &empty), noErr);
  ASSERT_EQ(AESend(&empty, &reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr),
            errAEDescNotFound);
  ASSERT_EQ(AEGetParamPtr(&reply, keyErrorNumber, typeLongInteger, nullptr, &answer, 4, nullptr), noErr);
  EXPECT_EQ(answer, errAEDescNotFound);
  AEDisposeDesc(&reply);
  AEDisposeDesc(&empty);

  // Removal only by the handler installed; afterwards nobody handles it.
  EXPECT_EQ(AERemoveEventHandler(kClass, kID, OtherHandler, false), errAEHandlerNotFound);
  AEEventHandlerUPP found = nullptr;
  SRefCon refcon = 0;
  ASSERT_EQ(AEGetEventHandler(kClass, kID, &found, &refcon, false), noErr);
  EXPECT_EQ(found, AddHandler);
  EXPECT_EQ(refcon, 100);
  ASSERT_EQ(AERemoveEventHandler(kClass, kID, AddHandler, false), noErr);
  EXPECT_EQ(AESend(&ev.e, &reply, kAEWaitReply, kAENormalPriority, kAEDefaultTimeout, nullptr, nullptr),
            errAEEventNotHandled);
  EXPECT_EQ(reply.dataHandle, nullptr);
  EXPECT_EQ(gCalls, 3);
}

TEST(AppleEventDelivery, AnInstallationMadeToFailInstallsNothingOnce) {
  SkyloomRemoveAllAEHandlers();
  SkyloomFailNextAEInstall(kClass, kID, -50);
  EXPECT_EQ(AEInstallEventHandler(kClass, kID, OtherHandler, 0, false), -50);
  EXPECT_EQ(AEGetEventHandler(kClass, kID, nullptr, nullptr, false), errAEHandlerNotFound);
  // Another event installs; the failure was for the next try only.
  EXPECT_EQ(AEInstallEventHandler(kClass, FOUR_CHAR_CODE("othr"), OtherHandler, 0, false), noErr);
  EXPECT_EQ(AEInstallEventHandler(kClass, kID, OtherHandler, 0, false), noErr);
  SkyloomFailNextAEInstall(kClass, kID, -50);
  SkyloomFailNextAEInstall(kClass, kID, noErr);  // withdrawn
  EXPECT_EQ(AEInstallEventHandler(kClass, kID, AddHandler, 0, false), noErr);
  SkyloomRemoveAllAEHandlers();
  EXPECT_EQ(AEGetEventHandler(kClass, FOUR_CHAR_CODE("othr"), nullptr, nullptr, false), errAEHandlerNotFound);
}

}  // namespace
