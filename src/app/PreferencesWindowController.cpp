#include "app/PreferencesWindowController.h"

#include "app/AppDelegate.h"
#include "app/AppIcons.h"
#include "platform/core/Strings.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeyEvent>
#include <QMainWindow>
#include <QScreen>
#include <QToolBar>

#include <algorithm>

namespace vornakel {
namespace {

QPointer<PreferencesWindowController> gCurrent;

std::unique_ptr<QWidget> makePane(const std::function<std::unique_ptr<QWidget>()>& maker)
{
    std::unique_ptr<QWidget> pane = maker ? maker() : nullptr;
    return pane ? std::move(pane) : std::make_unique<QWidget>();
}

} // namespace

QRectF preferencesPaneFrame(const QRectF& frame, qreal chromeHeight, const QSizeF& paneSize)
{
    return QRectF(frame.x() + (frame.width() - paneSize.width()) * 0.5, frame.y(), paneSize.width(),
                  paneSize.height() + chromeHeight);
}

QRect keepWindowInside(const QRect& frame, const QMargins& decoration, const QRect& area)
{
    const QRect outer = frame.marginsAdded(decoration);
    // Right and bottom first, so that a window larger than the area ends with its top-left corner inside.
    const int dx = std::max(area.left() - outer.left(), std::min(0, area.right() - outer.right()));
    const int dy = std::max(area.top() - outer.top(), std::min(0, area.bottom() - outer.bottom()));
    return frame.translated(dx, dy);
}

PreferencesWindowController::PreferencesWindowController(PreferencesPanes panes, QObject* parent)
    : QObject(parent), m_window(std::make_unique<QMainWindow>()), m_panes(std::move(panes))
{
    m_window->setObjectName(QStringLiteral("PreferencesWindow"));
    m_window->setWindowTitle(GeneralUI::text(QStringLiteral("PreferencesWindowTitle")));
    m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    m_toolbar = new QToolBar(m_window.get());
    m_toolbar->setObjectName(QStringLiteral("PreferencesToolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(24, 24));
    m_toolbar->toggleViewAction()->setVisible(false);
    m_window->setContextMenuPolicy(Qt::NoContextMenu);
    m_window->addToolBar(m_toolbar);

    // The toolbar items are selectable: the group keeps the chosen one checked.
    m_paneGroup = new QActionGroup(this);
    m_paneGroup->setExclusive(true);
    const auto addItem = [this](const QString& key, PreferencesPaneIcon icon) {
        QAction* action = m_toolbar->addAction(preferencesPaneIcon(icon), GeneralUI::text(key));
        action->setObjectName(key);
        action->setCheckable(true);
        m_paneGroup->addAction(action);
        return action;
    };
    m_generalToolbarButton = addItem(QStringLiteral("PreferencesGeneral"), PreferencesPaneIcon::General);
    m_photoSortingToolbarButton = addItem(QStringLiteral("PreferencesPhotoSorting"), PreferencesPaneIcon::PhotoSorting);
    m_advancedToolbarButton = addItem(QStringLiteral("PreferencesAdvanced"), PreferencesPaneIcon::Advanced);
    connect(m_generalToolbarButton, &QAction::triggered, this, &PreferencesWindowController::showGeneral);
    connect(m_photoSortingToolbarButton, &QAction::triggered, this,
            qOverload<bool>(&PreferencesWindowController::showPhotoSorting));
    connect(m_advancedToolbarButton, &QAction::triggered, this, &PreferencesWindowController::showAdvanced);

    // Ctrl+W closes the window wherever the focus is in it; Esc closes it when nothing inside took the key
    // (an open pop-up or an edit in progress keeps Esc for itself).
    auto* close = new QAction(m_window.get());
    close->setObjectName(QStringLiteral("ClosePreferencesAction"));
    close->setShortcuts(QKeySequence::Close);
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, m_window.get(), &QWidget::close);
    m_window->addAction(close);
    m_window->installEventFilter(this);

    windowDidLoad();
}

PreferencesWindowController::~PreferencesWindowController()
{
    // The panes are ours, not the window's.
    takeContent();
}

PreferencesWindowController* PreferencesWindowController::current()
{
    return gCurrent.data();
}

void PreferencesWindowController::windowDidLoad()
{
    gCurrent = this;
    m_generalViewController = makePane(m_panes.general);
    m_photoSortingViewController = makePane(m_panes.photoSorting);
    m_advancedViewController = makePane(m_panes.advanced);
    // A first frame for the window to keep its top edge and centre from.
    m_window->resize(paneSize(m_generalViewController.get()).width(),
                     paneSize(m_generalViewController.get()).height() + m_toolbar->sizeHint().height());
    transitionToContentViewController(m_generalViewController.get(), true);
    m_generalToolbarButton->setChecked(true);
}

bool PreferencesWindowController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window.get() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            m_window->close();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

QMargins PreferencesWindowController::decoration() const
{
    // Known once the window manager framed the window; until then only the client area counts.
    const QRect frame = m_window->frameGeometry();
    const QRect client = m_window->geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

void PreferencesWindowController::placeOnScreen(QScreen* screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame(QPoint(0, 0), m_window->size());
    frame.moveTo(area.left() + (area.width() - frame.width()) / 2, area.top() + (area.height() - frame.height()) / 3);
    m_window->setScreen(screen);
    setWindowFrame(keepWindowInside(frame, decoration(), area), false);
}

QWidget* PreferencesWindowController::contentViewController() const
{
    return m_window->centralWidget();
}

QSize PreferencesWindowController::paneSize(QWidget* pane)
{
    // A pane sized by its maker keeps that size; one that was not asks its layout.
    return pane->testAttribute(Qt::WA_Resized) ? pane->size() : pane->sizeHint().expandedTo(QSize(1, 1));
}

void PreferencesWindowController::setWindowFrame(const QRect& frame, bool)
{
    // The window is as large as its pane and not resizable by the user.
    m_window->setMinimumSize(0, 0);
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_window->setGeometry(frame);
    m_window->setFixedSize(frame.size());
}

void PreferencesWindowController::takeContent()
{
    if (QWidget* old = m_window->centralWidget()) {
        m_window->takeCentralWidget();
        old->hide();
    }
}

void PreferencesWindowController::transitionToContentViewController(QWidget* pane, bool)
{
    if (!pane || !m_window)
        return;
    const QRect frame = m_window->geometry();
    const qreal chrome = m_toolbar->isVisible() ? m_toolbar->height() : m_toolbar->sizeHint().height();
    const QSize size = paneSize(pane);
    QRect newFrame = preferencesPaneFrame(QRectF(frame), chrome, QSizeF(size)).toRect();
    // A wider or taller pane never pushes the window (or its title bar) off its screen.
    if (QScreen* screen = m_window->screen())
        newFrame = keepWindowInside(newFrame, decoration(), screen->availableGeometry());

    takeContent();
    setWindowFrame(frame, false);
    setWindowFrame(newFrame, true);
    m_window->setCentralWidget(pane);
    pane->show();
    setWindowFrame(newFrame, false);
}

void PreferencesWindowController::showGeneral()
{
    transitionToContentViewController(m_generalViewController.get(), true);
}

void PreferencesWindowController::showPhotoSorting(bool)
{
    transitionToContentViewController(m_photoSortingViewController.get(), true);
}

void PreferencesWindowController::showAdvanced()
{
    transitionToContentViewController(m_advancedViewController.get(), true);
}

void PreferencesWindowController::showPhotoSorting()
{
    AppDelegate* delegate = AppDelegate::current();
    if (!delegate)
        return;
    delegate->showPreferences();
    PreferencesWindowController* controller = current();
    if (!controller)
        return;
    controller->transitionToContentViewController(controller->photoSortingViewController(), true);
    controller->photoSortingToolbarButton()->setChecked(true);
}

} // namespace vornakel
