// The skyloom program. The process arguments are not used.
//
// An interrupt or termination request (Ctrl-C, a session ending) is the
// user's Quit: the command goes to the application on its main run loop, so
// open cameras are stopped and their preferences written as on the menu's
// Quit. A second request ends the process at once.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "app/ApplicationStartup.h"
#include "platform/corefoundation/CFRunLoop.h"

namespace {

void quitFromMainLoop(void*) {
  HICommand quit{};
  quit.commandID = kHICommandQuit;
  ProcessHICommand(&quit);
}

void watchForQuitRequests(CFRunLoopSourceRef quitSource, sigset_t requests) {
  int signal = 0;
  if (sigwait(&requests, &signal) != 0) return;
  CFRunLoopSourceSignal(quitSource);
  CFRunLoopWakeUp(CFRunLoopGetMain());
  if (sigwait(&requests, &signal) == 0) _exit(128 + signal);
}

}  // namespace

int main() {
  sigset_t requests;
  sigemptyset(&requests);
  sigaddset(&requests, SIGINT);
  sigaddset(&requests, SIGTERM);
  sigaddset(&requests, SIGHUP);
  // Blocked here, so every thread started later leaves them to the watcher.
  pthread_sigmask(SIG_BLOCK, &requests, nullptr);

  CFRunLoopSourceContext context{};
  context.perform = quitFromMainLoop;
  CFRunLoopSourceRef quitSource = CFRunLoopSourceCreate(nullptr, 0, &context);
  if (quitSource) {
    CFRunLoopAddSource(CFRunLoopGetMain(), quitSource, kCFRunLoopCommonModes);
    std::thread(watchForQuitRequests, quitSource, requests).detach();
  }
  return myApplicationMain();
}
