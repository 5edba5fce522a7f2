#include "discovery/ui/GeneralPreferencesWidget.h"

#include "discovery/WiFiNetworkAutoLaunching.h"
#include "platform/core/Strings.h"
#include "platform/core/UserDefaults.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <tuple>

namespace vornakel {

GeneralPreferencesWidget::GeneralPreferencesWidget(WiFiNetworkAutoLaunching& autoLaunching, QWidget* parent)
    : QWidget(parent), m_autoLaunching(autoLaunching),
      m_autolaunchCheckbox(new QCheckBox(GeneralUI::text(QStringLiteral("AutoLaunchCheckboxTitle")), this)),
      m_disconnectCheckbox(new QCheckBox(GeneralUI::text(QStringLiteral("DisconnectFromCameraNetworksCheckboxTitle")), this)),
      m_watchedNetworks(new QListWidget(this)),
      m_removeButton(new QPushButton(GeneralUI::text(QStringLiteral("RemoveWatchedNetworkButtonTitle")), this))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_autolaunchCheckbox);
    auto* explanation = new QLabel(GeneralUI::text(QStringLiteral("AutoLaunchExplanation")), this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    layout->addWidget(new QLabel(GeneralUI::text(QStringLiteral("WatchedNetworksTitle")), this));
    layout->addWidget(m_watchedNetworks);
    layout->addWidget(m_removeButton, 0, Qt::AlignRight);
    layout->addWidget(m_disconnectCheckbox);

    m_disconnectCheckbox->setChecked(
        m_autoLaunching.userDefaults().boolForKey(WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey));
    updateAutoLaunchCheckbox();
    reloadWatchedNetworks();

    connect(m_autolaunchCheckbox, &QCheckBox::clicked, this, &GeneralPreferencesWidget::autoLaunchCheckboxChanged);
    connect(m_disconnectCheckbox, &QCheckBox::clicked, this, [this](bool checked) {
        m_autoLaunching.userDefaults().setBool(WiFiNetworkAutoLaunching::disconnectFromCameraNetworksOnExitUserDefaultsKey, checked);
    });
    connect(m_removeButton, &QPushButton::clicked, this, &GeneralPreferencesWidget::removeSelectedNetwork);
    connect(m_watchedNetworks, &QListWidget::itemSelectionChanged, this,
            [this] { m_removeButton->setEnabled(!m_watchedNetworks->selectedItems().isEmpty()); });
    connect(&m_autoLaunching, &WiFiNetworkAutoLaunching::watchedNetworkNamesChanged, this,
            &GeneralPreferencesWidget::reloadWatchedNetworks);
    connect(&m_autoLaunching, &WiFiNetworkAutoLaunching::autoLaunchStateChanged, this,
            &GeneralPreferencesWidget::updateAutoLaunchCheckbox);
}

QStringList GeneralPreferencesWidget::watchedNetworkNames() const { return m_autoLaunching.watchedNetworkNames(); }

void GeneralPreferencesWidget::autoLaunchCheckboxChanged()
{
    // A tristate box in the mixed state counts as off.
    const bool on = m_autolaunchCheckbox->checkState() == Qt::Checked;
    m_autoLaunching.userDefaults().setBool(WiFiNetworkAutoLaunching::shouldAutoLaunchUserDefaultsKey, on);
    // A failure is logged by the enforcing itself; the box below shows the state it left.
    std::ignore = m_autoLaunching.enforceAutoLaunchSetting();
    updateAutoLaunchCheckbox();
}

void GeneralPreferencesWidget::updateAutoLaunchCheckbox()
{
    const QSignalBlocker blocker(m_autolaunchCheckbox);
    m_autolaunchCheckbox->setChecked(m_autoLaunching.shouldAutoLaunchWhenWatchedNetworksJoined()
                                     && m_autoLaunching.isAutoLaunchActive());
}

void GeneralPreferencesWidget::removeSelectedNetwork()
{
    const auto selected = m_watchedNetworks->selectedItems();
    if (!selected.isEmpty())
        m_autoLaunching.removeSSIDFromWatchList(selected.constFirst()->text());
}

void GeneralPreferencesWidget::reloadWatchedNetworks()
{
    m_watchedNetworks->clear();
    // Network names are shown as plain text, whatever they contain.
    m_watchedNetworks->addItems(m_autoLaunching.watchedNetworkNames());
    m_removeButton->setEnabled(false);
}

} // namespace vornakel
