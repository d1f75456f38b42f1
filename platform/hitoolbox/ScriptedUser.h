// A scripted user for tests: a queue of actions that the waiting loops
// (application loop, app-modal loops and sheets, alerts) take one at a time,
// as a person at the screen would.
//
//   skyloom::ui::ScriptedUser user;          // in charge while it lives
//   user.Type('VALU', 0, "12")               // into the window being run
//       .ClickOK()                           // -> the handler posts an alert
//       .AnswerAlert()                       // "OK" on that alert
//       .Do([&] { EXPECT_EQ(...); })         // look while the dialog is up
//       .ClickOK();
//   OSStatus r = myGetAUserValue(...);       // runs the script
//   EXPECT_TRUE(user.Errors().empty());
//
// Actions address "the window the user faces" unless a nib window name is
// given: the window of the app-modal loop asking, else the front window.
// A step that cannot be done (a hidden or disabled control, an alert where a
// window was expected...) is recorded in Errors() and skipped. When a loop
// waits and nothing is left, that is recorded too and the user escapes: the
// alert's cancel (else default) button, the modal window's Cancel command,
// and the application loop simply ends (that one is no error).
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/hitoolbox/UIModel.h"

namespace skyloom::ui {

class ScriptedUser : public UserAgent {
 public:
  ScriptedUser();
  ~ScriptedUser() override;
  ScriptedUser(const ScriptedUser&) = delete;
  ScriptedUser& operator=(const ScriptedUser&) = delete;

  ScriptedUser& Type(OSType signature, SInt32 id, const std::string& text, const std::string& window = "");
  ScriptedUser& Click(OSType signature, SInt32 id, const std::string& window = "");
  ScriptedUser& ClickOK(const std::string& window = "") { return Command(kHICommandOK, window); }
  ScriptedUser& ClickCancel(const std::string& window = "") { return Command(kHICommandCancel, window); }
  // The button carrying the command, else the command sent to the window.
  ScriptedUser& Command(UInt32 command, const std::string& window = "");
  ScriptedUser& ChooseItem(OSType signature, SInt32 id, SInt32 item, const std::string& window = "");
  ScriptedUser& SetValue(OSType signature, SInt32 id, SInt32 value, const std::string& window = "");
  ScriptedUser& ClickArrow(OSType signature, SInt32 id, bool up, const std::string& window = "");
  ScriptedUser& ChooseMenuItem(MenuID menuID, MenuItemIndex item);
  ScriptedUser& ChooseMenuCommand(MenuCommand command);  // the first menu-bar item carrying it
  ScriptedUser& PressMenuKey(char key);                  // command-key equivalent
  // Mouse down and up at a point of the control's own coordinates.
  ScriptedUser& ClickAt(OSType signature, SInt32 id, Point where, UInt32 modifiers = 0,
                        const std::string& window = "");
  // Mouse down at from, dragged to to (one step), up at to.
  ScriptedUser& Drag(OSType signature, SInt32 id, Point from, Point to, const std::string& window = "");
  // Mouse down at from, moved through every point of path (control
  // coordinates), up at the last; the window may track it (UserDragPath).
  ScriptedUser& DragPath(OSType signature, SInt32 id, Point from, std::vector<Point> path,
                         const std::string& window = "");
  // A key pressed (or held, repeating) in the window the user faces.
  ScriptedUser& Key(char charCode, UInt32 keyCode, bool repeat = false, const std::string& window = "");
  ScriptedUser& CloseWindow(const std::string& window = "");
  // The mouse moved (no button) to a point of the window's content (0, 0 at
  // its top left): kEventMouseMoved with the global and window locations.
  ScriptedUser& MoveMouse(Point where, const std::string& window = "");
  ScriptedUser& AnswerAlert(DialogItemIndex item = kAlertStdAlertOKButton);
  // Answers the colour chooser: accepts this colour, or cancels it.
  ScriptedUser& ChooseColor(RGBColor colour);
  ScriptedUser& CancelColor();
  // Lets the run loop go on (timers fire) for that long before the next step.
  ScriptedUser& Wait(double seconds);
  // Runs test code at that point of the script (inspect, or act directly).
  ScriptedUser& Do(std::function<void()> step);

  size_t Pending() const { return steps_.size(); }
  const std::vector<std::string>& Errors() const { return errors_; }

  bool Act(const LoopState& state) override;

 private:
  enum class Kind { Type, Click, Command, ChooseItem, SetValue, ClickArrow, MenuItem, MenuCommand, MenuKey, ClickAt, Drag, DragPath, Key, Close, Alert, Wait, Do, MoveMouse, Color };
  struct Step {
    Kind kind = Kind::Do;
    std::string window;
    OSType signature = 0;
    SInt32 id = 0;
    SInt32 number = 0;  // item, value, command, direction
    std::string text;
    double seconds = 0;
    Point from{0, 0}, to{0, 0};
    std::vector<Point> path;
    std::function<void()> fn;
    RGBColor colour{0, 0, 0};
    std::string Describe() const;
  };
  static Step NewStep(Kind kind, const std::string& window) {
    Step s;
    s.kind = kind;
    s.window = window;
    return s;
  }
  ScriptedUser& Add(Step step);
  WindowRef Facing(const LoopState& state, const std::string& name) const;
  OSStatus Perform(const Step& step, const LoopState& state);
  bool Escape(const LoopState& state);

  std::deque<Step> steps_;
  std::vector<std::string> errors_;
  UserAgent* previous_ = nullptr;
  int done_ = 0;
  const void* escaped_ = nullptr;  // the loop last escaped from
};

}  // namespace skyloom::ui
