#pragma once

#include "ui/MainWindowViewController.h"

#include <QWidget>

namespace vornakel {

// Stands in for the discovery screen in tests of the main window: an empty pane that asks for what the discovery
// screen asks for (visible title, transparent title bar, no minimise or maximise button, 339 x 420), without a
// toolbar, as it has nothing to put in one.
class DiscoveryPlaceholderController : public QWidget, public MainWindowViewController {
    Q_OBJECT
public:
    static constexpr QSize kInitialSize{339, 420};

    explicit DiscoveryPlaceholderController(QWidget* parent = nullptr) : QWidget(parent)
    {
        setObjectName(QStringLiteral("DiscoveryPlaceholder"));
    }

    QToolBar* toolbar() override { return nullptr; }
    bool wantsVisibleTitle() const override { return true; }
    bool wantsTransparentToolbar() const override { return true; }
    bool wantsWindowControls() const override { return false; }
    QSize wantsInitialSize() const override { return kInitialSize; }
};

} // namespace vornakel
