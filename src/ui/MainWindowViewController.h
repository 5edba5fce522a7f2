#pragma once

#include <QList>
#include <QSize>

#include <memory>

class QMenu;
class QToolBar;

namespace vornakel {

class VKLCamera;

// What a content controller of the main window tells the window about how to show it. It lives with the shared
// views because the discovery screens, which come before the main window in the data flow, conform to it too.
// A conformer is also a QWidget (its view); MainWindowController::transition ignores anything else.
class MainWindowViewController {
public:
    virtual ~MainWindowViewController() = default;

    // The toolbar to install in the window, or nullptr. It stays the controller's: the window hands it back
    // (hidden, parented to the controller) when another controller is shown.
    virtual QToolBar* toolbar() = 0;
    virtual bool wantsVisibleTitle() const = 0;
    virtual bool wantsTransparentToolbar() const = 0;
    // False hides the window's minimise and maximise buttons.
    virtual bool wantsWindowControls() const = 0;
    // The window's size while this controller is shown.
    virtual QSize wantsInitialSize() const = 0;

    // Menus the window shows in its menu bar while this controller is shown (before Help); they stay the
    // controller's.
    virtual QList<QMenu*> menus() { return {}; }

    // The camera this content is connected to, for the Wi-Fi rule when the window closes; none by default.
    virtual std::shared_ptr<VKLCamera> connectedCamera() const { return nullptr; }
};

} // namespace vornakel
