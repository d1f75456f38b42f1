// Stand-ins for command entry points whose code has not landed yet. Each
// stand-in only records its call, so the command handler can be driven end to
// end; the code that brings the real routine deletes its stand-in from
// CommandPlaceholders.cpp (the real one lives in another library, and two
// definitions in two static libraries would link without a word).
#pragma once
#include <functional>
#include <string>
#include <vector>

struct MyPlaceholderCall {
  std::string name;   // the routine's name
  long argument = 0;  // its one argument, 0 when it takes none
};
// Every stand-in call since the last clear, oldest first. Main thread only.
std::vector<MyPlaceholderCall>& myPlaceholderCalls();

// What the myFindAndOpenCamera stand-in does besides recording its call
// (tests that need a camera opened set it; empty: nothing). Goes with the
// stand-in.
#define SKYLOOM_FIND_AND_OPEN_STAND_IN 1
std::function<void(unsigned)>& myFindAndOpenCameraStandIn();
