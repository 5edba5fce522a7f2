#include "lightroom/ui/AdvancedPreferencesViewController.h"

#include "lightroom/LrPluginBridge.h"
#include "lightroom/ui/QuitLightroomQuestion.h"
#include "platform/core/Strings.h"

#include <QFont>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vornakel {
namespace {

QString text(const char* key)
{
    return GeneralUI::text(QString::fromLatin1(key));
}

} // namespace

AdvancedPreferencesViewController::AdvancedPreferencesViewController(LrPluginBridge& bridge, QWidget* parent)
    : QWidget(parent), m_bridge(bridge), m_pluginSource(LrPluginBridge::bundledPluginLocation()),
      m_statusLabel(new QLabel(this)), m_installButton(new QPushButton(this)),
      m_removeButton(new QPushButton(text("RemovePluginPreferencesButtonTitle"), this)),
      m_progress(new QProgressBar(this)), m_progressLabel(new QLabel(text("PluginOperationInProgressLabel"), this))
{
    setObjectName(QStringLiteral("AdvancedPreferences"));
    auto* heading = new QLabel(text("PluginPreferencesHeading"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_installButton->setObjectName(QStringLiteral("installButton"));
    m_removeButton->setObjectName(QStringLiteral("removeButton"));
    m_progress->setRange(0, 0);
    m_progress->setTextVisible(false);
    m_progress->setMaximumWidth(120);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(10);
    layout->addWidget(heading);
    layout->addWidget(m_statusLabel);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(m_progress);
    progressRow->addWidget(m_progressLabel, 1);
    layout->addLayout(progressRow);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_removeButton);
    buttons->addWidget(m_installButton);
    layout->addLayout(buttons);
    setMinimumSize(480, 200);
    resize(480, 200);

    connect(m_installButton, &QPushButton::clicked, this, &AdvancedPreferencesViewController::installPlugin);
    connect(m_removeButton, &QPushButton::clicked, this, &AdvancedPreferencesViewController::removePlugin);
    connect(&m_bridge, &LrPluginBridge::pluginIsInstalledChanged, this,
            &AdvancedPreferencesViewController::updateForPluginInstalledChanged);
    setBusy(false);
    // The button keeps one width whichever of its two titles it shows.
    const QFontMetrics metrics(m_installButton->font());
    const int widest = std::max(metrics.horizontalAdvance(text("InstallPluginPreferencesButtonTitle")),
                                metrics.horizontalAdvance(text("ReInstallPluginPreferencesButtonTitle")));
    m_installButton->setMinimumWidth(widest + m_installButton->sizeHint().width()
                                     - metrics.horizontalAdvance(m_installButton->text()));
}

void AdvancedPreferencesViewController::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The folder may have changed behind the program's back while the pane was hidden.
    updateForPluginInstalledChanged();
}

void AdvancedPreferencesViewController::updateForPluginInstalledChanged()
{
    const bool installed = m_bridge.pluginIsInstalled();
    m_statusLabel->setText(text(installed ? "PluginInstalledPreferencesLabelTitle" : "PluginNotInstalledPreferencesLabelTitle"));
    m_installButton->setText(text(installed ? "ReInstallPluginPreferencesButtonTitle" : "InstallPluginPreferencesButtonTitle"));
    const bool resting = m_busy || m_asking;
    m_installButton->setEnabled(!resting);
    m_removeButton->setEnabled(!resting && installed);
}

void AdvancedPreferencesViewController::setBusy(bool busy)
{
    m_busy = busy;
    m_progress->setVisible(busy);
    m_progressLabel->setVisible(busy);
    updateForPluginInstalledChanged();
}

void AdvancedPreferencesViewController::installPlugin()
{
    afterQuittingLightroom([this, bridge = &m_bridge, source = m_pluginSource, pane = QPointer(this)] {
        const std::optional<Error> error = bridge->installOrUpdatePlugin(source);
        if (!pane)
            return;
        setBusy(false);
        if (error)
            displayPluginInstallErrorWith(text("PluginOperationFailedInstallFailedTitle"));
    });
}

void AdvancedPreferencesViewController::removePlugin()
{
    afterQuittingLightroom([this, bridge = &m_bridge, pane = QPointer(this)] {
        const std::optional<Error> error = bridge->uninstallPlugin();
        if (!pane)
            return;
        setBusy(false);
        if (error)
            displayPluginInstallErrorWith(text("PluginOperationFailedRemoveFailedTitle"));
    });
}

void AdvancedPreferencesViewController::afterQuittingLightroom(std::function<void()> operation)
{
    if (m_busy || m_asking)
        return;
    // Buttons rest while the question is open, so that a second click cannot ask twice.
    m_asking = true;
    QPointer<AdvancedPreferencesViewController> pane(this);
    askToQuitLightroom(m_bridge, window(), [pane, operation](bool agreed) {
        if (!pane)
            return;
        pane->m_asking = false;
        if (!agreed) {
            pane->updateForPluginInstalledChanged();
            return;
        }
        pane->setBusy(true);
        // The operation runs even when the pane has gone meanwhile; it only stops reporting to it.
        pane->m_bridge.quitLightroom(operation);
    });
    if (m_asking)
        updateForPluginInstalledChanged();
}

void AdvancedPreferencesViewController::displayPluginInstallErrorWith(const QString& title)
{
    auto* alert = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, window());
    alert->setObjectName(QStringLiteral("pluginOperationFailedAlert"));
    alert->setTextFormat(Qt::PlainText);
    alert->setInformativeText(text("PluginOperationFailedInformativeText"));
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}

} // namespace vornakel
