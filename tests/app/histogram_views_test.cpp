// The histogram and brightness-graph views: their event table (through the
// real view registry and directly), and the graph's painting, checked on
// the drawing calls it records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/HistogramViews.h"
#include "pixel/Histogram.h"
#include "pixel/live/HistogramPlot.h"
#include "platform/coregraphics/CoreGraphics.h"
#include "platform/coregraphics/QuickDrawPorts.h"
#include "tests/support/UiFixture.h"

namespace {

std::vector<const SkyloomCGCall*> named(const std::vector<SkyloomCGCall>& calls, const std::string& name) {
  std::vector<const SkyloomCGCall*> out;
  for (const SkyloomCGCall& c : calls)
    if (c.name == name) out.push_back(&c);
  return out;
}

class ViewsTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    r = std::make_unique<MyCameraWindowDataStruct>();
    r->mKind = kMyCameraWindowDataKind;
    const Rect content{50, 100, 450, 400};
    ASSERT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowNoAttributes, &content, &window), noErr);
    r->mControlWindow = window;
    r->mControlWindowShown = 1;
    r->mHistogramShown = 1;
    r->mHistogramOption = 1;
    r->mHistogramRect = Rect{10, 20, 110, 276};
    r->mDisplayFormatItem = 1;
    r->mHistogramR = bins.data();
    std::fill(bins.begin(), bins.end(), 5u);
    myStoreHistogramReady(r.get(), 1);
    // The brightness sheet: a view 302 wide, 160 high.
    ASSERT_EQ(CreateNewWindow(kDocumentWindowClass, kWindowNoAttributes, &content, &sheet), noErr);
    r->mPleezWaitWindow = sheet;
    r->mBrightnessGraphRect = Rect{20, 0, 180, 302};
    r->mBrightnessMonitorOn = 1;
    r->mBrightnessGraphMode = 1;
  }
  void TearDown() override {
    SkyloomCGSetRecording(false);
    r.reset();
    UiTest::TearDown();
  }
  // Calls made while fn runs.
  template <typename F>
  std::vector<SkyloomCGCall> record(F fn) {
    SkyloomCGSetRecording(true);
    fn();
    std::vector<SkyloomCGCall> calls = SkyloomCGRecordedCalls();
    SkyloomCGSetRecording(false);
    return calls;
  }
  OSStatus send(EventHandlerProcPtr handler, EventClass cls, EventKind kind, void* user) {
    EventRef e = nullptr;
    CreateEvent(nullptr, cls, kind, 0, 0, &e);
    const OSStatus err = handler(nullptr, e, user);
    ReleaseEvent(e);
    return err;
  }
  void setSamples(const std::vector<float>& values, const std::vector<float>& times) {
    brightness = values;
    elapsed = times;
    r->mPleezWaitSum = brightness.data();
    r->mTrackSamples = elapsed.data();
    r->mTrackSampleCount = UInt32(values.size());
    r->mBrightnessMin = *std::min_element(values.begin(), values.end());
    r->mBrightnessMax = *std::max_element(values.begin(), values.end());
  }
  // The curve's points: the path that ends where the stroke colour turns blue.
  static std::vector<std::pair<double, double>> curve(const std::vector<SkyloomCGCall>& calls) {
    size_t blue = 0;
    for (size_t i = 0; i < calls.size(); ++i)
      if (calls[i].name == "CGContextSetRGBStrokeColor" && calls[i].args == std::vector<double>{0, 0, 1, 1}) blue = i;
    size_t begin = blue;
    while (begin > 0 && calls[begin].name != "CGContextBeginPath") --begin;
    std::vector<std::pair<double, double>> pts;
    for (size_t i = begin; i < blue; ++i)
      if (calls[i].name == "CGContextMoveToPoint" || calls[i].name == "CGContextAddLineToPoint")
        pts.emplace_back(calls[i].args[0], calls[i].args[1]);
    return pts;
  }
  std::vector<std::string> texts(const std::vector<SkyloomCGCall>& calls) {
    std::vector<std::string> t;
    for (const SkyloomCGCall* c : named(calls, "CGContextShowTextAtPoint")) t.push_back(c->text);
    return t;
  }

  std::unique_ptr<MyCameraWindowDataStruct> r;
  WindowRef window = nullptr;
  WindowRef sheet = nullptr;
  std::array<UInt32, 256> bins{};
  std::vector<float> brightness, elapsed;
};

TEST_F(ViewsTest, ViewClassConstructsWithTheRecordAndSupportsEmbedding) {
  const EventTypeSpec events[] = {{kEventClassHIObject, kEventHIObjectConstruct},
                                  {kEventClassHIObject, kEventHIObjectInitialize},
                                  {kEventClassHIObject, kEventHIObjectDestruct},
                                  {kEventClassControl, kEventControlInitialize},
                                  {kEventClassControl, kEventControlDraw},
                                  {kEventClassControl, kEventControlActivate},
                                  {kEventClassControl, kEventControlDeactivate}};
  HIObjectClassRef cls = nullptr;
  ASSERT_EQ(HIObjectRegisterSubclass(CFSTR("com.skyloom.camera.histogram"), kHIViewClassID, 0,
                                     myCameraHistogramCustomControlHandler, 7, events, r.get(), &cls),
            noErr);
  HIObjectRef view = nullptr;
  ASSERT_EQ(HIObjectCreate(CFSTR("com.skyloom.camera.histogram"), nullptr, &view), noErr);
  EXPECT_EQ(r->mHistogramView, view);
  UInt32 features = 0;
  ASSERT_EQ(GetControlFeatures(view, &features), noErr);
  EXPECT_NE(features & kControlSupportsEmbedding, 0u);
  DisposeControl(view);
  EXPECT_EQ(HIObjectUnregisterClass(cls), noErr);
}

TEST_F(ViewsTest, EventTableOfBothViews) {
  for (EventHandlerProcPtr h : {myCameraHistogramCustomControlHandler, myBrighnessGraphCustomControlHandler}) {
    EXPECT_EQ(send(h, kEventClassControl, kEventControlDraw, nullptr), eventNotHandledErr);
    EXPECT_EQ(send(h, kEventClassHIObject, kEventHIObjectDestruct, r.get()), noErr);
    EXPECT_EQ(send(h, kEventClassControl, kEventControlHit, r.get()), eventNotHandledErr);
    EXPECT_EQ(send(h, kEventClassCommand, kEventCommandProcess, r.get()), eventNotHandledErr);
  }
}

TEST_F(ViewsTest, HistogramDrawPaintsDataErasesOrNothing) {
  struct Case {
    UInt8 shown;
    UInt32 option, valid;
    bool anything, curve;
  } cases[] = {{0, 1, 1, false, false}, {1, 1, 1, true, true}, {1, 0, 1, true, false}, {1, 1, 0, true, false}};
  for (const Case& c : cases) {
    r->mHistogramShown = c.shown;
    r->mHistogramOption = c.option;
    myStoreHistogramReady(r.get(), c.valid);
    for (EventKind kind : {kEventControlDraw, kEventControlActivate, kEventControlDeactivate}) {
      OSStatus err = 1;
      const auto calls = record([&] { err = send(myCameraHistogramCustomControlHandler, kEventClassControl, kind, r.get()); });
      EXPECT_EQ(err, noErr);
      EXPECT_EQ(!calls.empty(), c.anything) << int(c.shown) << c.option << c.valid;
      EXPECT_EQ(!named(calls, "CGContextStrokePath").empty(), c.curve) << int(c.shown) << c.option << c.valid;
    }
  }
}

TEST_F(ViewsTest, BrightnessDrawNeedsTwoSamplesAndTheMonitor) {
  setSamples({10, 20, 30}, {0, 1, 2});
  const auto draw = [&] { send(myBrighnessGraphCustomControlHandler, kEventClassControl, kEventControlDraw, r.get()); };
  EXPECT_FALSE(named(record(draw), "CGContextShowTextAtPoint").empty());
  r->mTrackSampleCount = 1;
  auto calls = record(draw);
  EXPECT_FALSE(calls.empty());
  EXPECT_TRUE(named(calls, "CGContextShowTextAtPoint").empty());
  r->mBrightnessMonitorOn = 0;
  EXPECT_TRUE(record(draw).empty());
}

TEST(BrightnessGraphLayout, ColumnsScaleAndNarrowBox) {
  // A view 302 wide: box 296, 294 columns of room.
  const Rect frame{0, 0, 160, 302};
  MyBrightnessGraphLayout g = myBrightnessGraphLayout(frame, 200, 600, 0, 100);
  EXPECT_EQ(g.perColumn, 3u);
  EXPECT_EQ(g.columns, 199u);
  EXPECT_FLOAT_EQ(g.scale, (154.0f - 2.0f) / 100.0f);
  g = myBrightnessGraphLayout(frame, 200, 2, 5.0f, 6.0f);
  EXPECT_EQ(g.perColumn, 1u);
  EXPECT_EQ(g.columns, 1u);
  EXPECT_FLOAT_EQ(g.scale, 1.0f);
  EXPECT_FLOAT_EQ(myBrightnessGraphLayout(frame, 200, 9, 6.0f, 5.5f).scale, 1.0f);
  for (SInt16 right : {0, 6, 7, 8}) {
    g = myBrightnessGraphLayout(Rect{0, 0, 100, right}, 200, 600, 0, 100);
    EXPECT_TRUE(g.empty) << right;
    EXPECT_EQ(g.columns, 0u);
  }
  EXPECT_FALSE(myBrightnessGraphLayout(Rect{0, 0, 100, 9}, 200, 600, 0, 100).empty);
}

TEST(BrightnessGraphLayout, TimeLabelUnits) {
  const std::pair<double, const char*> cases[] = {
      {59, "59s"}, {60, "60s"}, {61, "1.0m"}, {3600, "60.0m"}, {7200, "2.00h"}};
  for (const auto& [tau, text] : cases) {
    char label[32];
    myBrightnessTimeLabel(tau, label, sizeof(label));
    EXPECT_STREQ(label, text) << tau;
  }
}

TEST_F(ViewsTest, ColumnsReducedByMeanMinimumMaximum) {
  // 10 samples in a box of 3 points of room: p = trunc(9 / 3) + 1 = 4, m = 2.
  r->mBrightnessGraphRect = Rect{20, 0, 180, 11};
  std::vector<float> v{1, 9, 3, 5, 20, 2, 8, 6, 100, 100};
  std::vector<float> t(10);
  for (int i = 0; i < 10; ++i) t[size_t(i)] = float(i);
  setSamples(v, t);
  r->mBrightnessMin = 0;
  r->mBrightnessMax = 1;  // q = 1: y = value + minY + 1
  const struct {
    UInt32 mode;
    float a, b;
  } cases[] = {{1, 4.5f, 9.0f}, {2, 1, 2}, {3, 9, 20}};
  Rect port{};
  GetWindowPortBounds(sheet, &port);
  const double minY = double(port.bottom - port.top) - 180 + 3;
  for (const auto& c : cases) {
    r->mBrightnessGraphMode = c.mode;
    const auto pts = curve(record([&] { myDrawBrightnessGraphAreaBox(r.get()); }));
    ASSERT_EQ(pts.size(), 2u) << c.mode;
    EXPECT_DOUBLE_EQ(pts[0].first, 4.0);
    EXPECT_DOUBLE_EQ(pts[1].first, 5.0);
    EXPECT_NEAR(pts[0].second, c.a + minY + 1, 1e-4) << c.mode;
    EXPECT_NEAR(pts[1].second, c.b + minY + 1, 1e-4) << c.mode;
  }
}

TEST_F(ViewsTest, TwoSamplesDrawOnePointAndTimesOfSampleOne) {
  setSamples({10, 30}, {0, 2.0f});
  const auto calls = record([&] { myDrawBrightnessGraphAreaBox(r.get()); });
  EXPECT_EQ(curve(calls).size(), 1u);
  // t = 0.1 x 296 = 29.6 points; label k is k x 29.6 x 2 s.
  const auto all = texts(calls);
  ASSERT_EQ(all.size(), 12u + 9u);
  const std::vector<std::string> times(all.end() - 9, all.end());
  EXPECT_EQ(times[0], "59s");
  EXPECT_EQ(times[1], "2.0m");
  EXPECT_EQ(times[8], "8.9m");
  // Value labels twice each; the copy right-aligned by its measured advance.
  const auto shown = named(calls, "CGContextShowTextAtPoint");
  const auto positions = named(calls, "CGContextGetTextPosition");
  ASSERT_EQ(positions.size(), 6u);
  const double w = positions[0]->args[0] - shown[0]->args[0];
  EXPECT_GT(w, 0.0);
  EXPECT_NEAR(shown[1]->args[0], (3 + 296) - w - 9, 1e-3);
  EXPECT_EQ(all[0], "10");
  EXPECT_EQ(all[10], "30");
}

TEST_F(ViewsTest, NoSheetPaintsNothingAndTimerFollowsTheMonitor) {
  setSamples({10, 30, 20}, {0, 1, 2});
  r->mPleezWaitWindow = nullptr;
  EXPECT_TRUE(record([&] {
                myDrawBrightnessGraphAreaBox(r.get());
                myEraseBrightnessGraphAreaBox(r.get());
              }).empty());
  r->mPleezWaitWindow = sheet;
  EXPECT_FALSE(texts(record([&] { myUpdateBrighnessGraphBox(nullptr, r.get()); })).empty());
  r->mBrightnessMonitorOn = 0;
  const auto calls = record([&] { myUpdateBrighnessGraphBox(nullptr, r.get()); });
  EXPECT_TRUE(texts(calls).empty());
  EXPECT_EQ(named(calls, "CGContextStrokePath").size(), 5u);
  myUpdateBrighnessGraphBox(nullptr, nullptr);
}

}  // namespace

namespace {

class TemperatureNib : public UiTest {};

TEST_F(TemperatureNib, SheetDialogAndMenuOfTheRealNib) {
  LinkRealNib();
  WindowRef sheet = MakeWindow("ORX_DCAM", "PleezWaitTwo");
  ASSERT_NE(sheet, nullptr);
  for (OSType sig : {FOUR_CHAR_CODE("BARR"), FOUR_CHAR_CODE("STTX"), FOUR_CHAR_CODE("clos"), FOUR_CHAR_CODE("GRAF"),
                     FOUR_CHAR_CODE("DISP")}) {
    const ControlID id = {sig, 0};
    ControlRef c = nullptr;
    EXPECT_EQ(GetControlByID(sheet, &id, &c), noErr) << sig;
  }
  const ControlID disp = {FOUR_CHAR_CODE("DISP"), 0};
  ControlRef popup = nullptr;
  ASSERT_EQ(GetControlByID(sheet, &disp, &popup), noErr);
  EXPECT_EQ(GetControl32BitMaximum(popup), 3);
  DisposeWindow(sheet);

  WindowRef dialog = MakeWindow("ORX_DCAM", "EnterTemperature");
  ASSERT_NE(dialog, nullptr);
  for (OSType sig : {FOUR_CHAR_CODE("METR"), FOUR_CHAR_CODE("MIMX"), FOUR_CHAR_CODE("VALU"), FOUR_CHAR_CODE("ok  "),
                     FOUR_CHAR_CODE("not!")}) {
    const ControlID id = {sig, 0};
    ControlRef c = nullptr;
    EXPECT_EQ(GetControlByID(dialog, &id, &c), noErr) << sig;
  }
  DisposeWindow(dialog);

  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReference(CFSTR("ORX_DCAM"), &nib), noErr);
  MenuRef menu = nullptr;
  ASSERT_EQ(CreateMenuFromNib(nib, CFSTR("CameraTemperature"), &menu), noErr);
  DisposeNibReference(nib);
  EXPECT_EQ(GetMenuID(menu), kMyTemperatureMenuID);
  EXPECT_EQ(CountMenuItems(menu), 3);
  MenuCommand command = 0;
  GetMenuItemCommandID(menu, 2, &command);
  EXPECT_EQ(command, FOUR_CHAR_CODE("MTEM"));
  ReleaseMenu(menu);
}

}  // namespace
