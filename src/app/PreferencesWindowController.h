#pragma once

#include "app/AppCollaborators.h"

#include <QObject>
#include <QPointer>
#include <QRectF>

#include <memory>

class QAction;
class QActionGroup;
class QMainWindow;
class QScreen;
class QToolBar;

namespace vornakel {

// The window frame (client area, y growing downwards) that shows a pane of `paneSize` below `chromeHeight` of
// toolbar, keeping the top edge and the horizontal centre of `frame`.
QRectF preferencesPaneFrame(const QRectF& frame, qreal chromeHeight, const QSizeF& paneSize);

// `frame` (a window's client area) moved the least so that it and its window-manager `decoration` lie inside
// `area`; a window larger than the area keeps its top-left corner (and so its title bar) on screen.
QRect keepWindowInside(const QRect& frame, const QMargins& decoration, const QRect& area);

// The preferences window: a toolbar of three panes (General, Photo Sorting, Advanced), one shown at a time; a
// switch resizes the window to the pane, keeping its top edge and horizontal centre.
class PreferencesWindowController : public QObject {
    Q_OBJECT
public:
    explicit PreferencesWindowController(PreferencesPanes panes, QObject* parent = nullptr);
    ~PreferencesWindowController() override;

    // The controller whose window was built last; none once it is gone.
    static PreferencesWindowController* current();
    // Opens the preferences window (through the application delegate) on the photo-sorting pane.
    static void showPhotoSorting();

    QMainWindow* window() const { return m_window.get(); }
    QToolBar* toolbar() const { return m_toolbar; }
    QAction* generalToolbarButton() const { return m_generalToolbarButton; }
    QAction* photoSortingToolbarButton() const { return m_photoSortingToolbarButton; }
    QAction* advancedToolbarButton() const { return m_advancedToolbarButton; }
    QWidget* generalViewController() const { return m_generalViewController.get(); }
    QWidget* photoSortingViewController() const { return m_photoSortingViewController.get(); }
    QWidget* advancedViewController() const { return m_advancedViewController.get(); }
    QWidget* contentViewController() const;

    // Shows the pane and resizes the window around it; the resize animates whatever `animated` says. The
    // window stays inside the available area of its screen.
    void transitionToContentViewController(QWidget* pane, bool animated);
    // Centres the window on the screen (horizontally, and a little above the middle).
    void placeOnScreen(QScreen* screen);

public slots:
    void showGeneral();
    void showPhotoSorting(bool);
    void showAdvanced();

protected:
    virtual void setWindowFrame(const QRect& frame, bool animate);

private:
    void windowDidLoad();
    bool eventFilter(QObject* watched, QEvent* event) override;
    QMargins decoration() const;
    void takeContent();
    static QSize paneSize(QWidget* pane);

    std::unique_ptr<QMainWindow> m_window;
    QToolBar* m_toolbar = nullptr;
    QActionGroup* m_paneGroup = nullptr;
    QAction* m_generalToolbarButton = nullptr;
    QAction* m_photoSortingToolbarButton = nullptr;
    QAction* m_advancedToolbarButton = nullptr;
    std::unique_ptr<QWidget> m_generalViewController;
    std::unique_ptr<QWidget> m_photoSortingViewController;
    std::unique_ptr<QWidget> m_advancedViewController;
    PreferencesPanes m_panes;
};

} // namespace vornakel
