#pragma once

#include <functional>

class QMessageBox;
class QWidget;

namespace vornakel {

class LrPluginBridge;

// Before the plug-in can change the editor must quit, which closes the user's work there, so the user is asked
// first. When the editor does not run, `answer(true)` is called at once and nothing is shown. Otherwise a
// window-modal question opens on `window` (named "quitLightroomQuestion") and `answer` gets whether the user
// agreed to quit; the question is answered (and `answer` dropped) when `window` goes first.
// Answers the question it opened, none when it asked nothing.
QMessageBox* askToQuitLightroom(LrPluginBridge& bridge, QWidget* window, std::function<void(bool agreed)> answer);

} // namespace vornakel
