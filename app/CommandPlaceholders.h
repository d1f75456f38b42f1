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
