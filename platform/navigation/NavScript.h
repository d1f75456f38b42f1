// Steps of the scripted user (platform/hitoolbox/ScriptedUser.h) that answer
// the file dialogs of Navigation.h, for tests.
#pragma once
#include <string>
#include <vector>

#include "platform/hitoolbox/ScriptedUser.h"
#include "platform/navigation/Navigation.h"

namespace skyloom::nav {

// Picks the items (absolute paths) and presses the action button.
inline ui::ScriptedUser& Choose(ui::ScriptedUser& user, const std::vector<std::string>& paths) {
  std::string lines;
  for (const auto& p : paths) lines += (lines.empty() ? "" : "\n") + p;
  return user.Type(kSkyloomNavSelectionSignature, 0, lines).ClickOK();
}

// Goes to the folder, keeps the default name, and presses Save.
inline ui::ScriptedUser& SaveInto(ui::ScriptedUser& user, const std::string& folder) {
  return user.Type(kSkyloomNavSelectionSignature, 0, folder).ClickOK();
}

// Goes to the folder, types the name, and presses Save. When the name is
// taken, answer the alert next: AnswerAlert(1) replaces, AnswerAlert(2) goes
// back to the dialog.
inline ui::ScriptedUser& SaveAs(ui::ScriptedUser& user, const std::string& folder, const std::string& name) {
  return user.Type(kSkyloomNavSelectionSignature, 0, folder).Type(kSkyloomNavNameSignature, 0, name).ClickOK();
}

inline ui::ScriptedUser& Cancel(ui::ScriptedUser& user) { return user.ClickCancel(); }

}  // namespace skyloom::nav
