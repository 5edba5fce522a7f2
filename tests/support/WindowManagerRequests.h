#pragma once

class QWidget;

namespace vornakel::test {

// Sends `window` the WM_DELETE_WINDOW request a window manager sends for its title bar's close button, through
// the X server, so that it arrives as the real one would. False when not on X11 or the window has no native
// window yet.
bool sendWindowManagerCloseRequest(QWidget* window);

} // namespace vornakel::test
