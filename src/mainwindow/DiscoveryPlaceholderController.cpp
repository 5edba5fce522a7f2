#include "mainwindow/DiscoveryPlaceholderController.h"

namespace vornakel {

DiscoveryPlaceholderController::DiscoveryPlaceholderController(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("DiscoveryPlaceholder"));
}

} // namespace vornakel
