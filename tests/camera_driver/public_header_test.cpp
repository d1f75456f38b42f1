// The application's header on its own: it must compile without any of the
// library's inside headers, with the handle left opaque.
#include "camera_driver/ORXDCAM.h"

#include <type_traits>

#include <gtest/gtest.h>

namespace {

template <typename T, typename = void>
struct IsComplete : std::false_type {};
template <typename T>
struct IsComplete<T, std::void_t<decltype(sizeof(T))>> : std::true_type {};

TEST(PublicCameraHeader, CompilesAloneWithAnOpaqueHandle) {
  static_assert(!IsComplete<MyDCAMCameraStruct>::value);
  static_assert(sizeof(MyDCAMCameraPropertiesStruct) == 384);
  MyDCAMFrameCallback callback = nullptr;
  EXPECT_EQ(callback, nullptr);
  EXPECT_EQ(ORXDCAMGetListOfCameras(nullptr), OSStatus(0xE00002C0));
}

}  // namespace
