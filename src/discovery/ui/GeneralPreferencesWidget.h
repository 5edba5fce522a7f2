#pragma once

#include <QWidget>

class QCheckBox;
class QListWidget;
class QPushButton;

namespace vornakel {

class WiFiNetworkAutoLaunching;

// The General pane of the preferences window: the auto-launch setting and the watched camera networks.
class GeneralPreferencesWidget : public QWidget {
    Q_OBJECT
public:
    explicit GeneralPreferencesWidget(WiFiNetworkAutoLaunching& autoLaunching, QWidget* parent = nullptr);

    QCheckBox* autolaunchCheckbox() const { return m_autolaunchCheckbox; }
    QCheckBox* disconnectCheckbox() const { return m_disconnectCheckbox; }
    QListWidget* watchedNetworksList() const { return m_watchedNetworks; }
    QPushButton* removeButton() const { return m_removeButton; }

    QStringList watchedNetworkNames() const;

private:
    void autoLaunchCheckboxChanged();
    void removeSelectedNetwork();
    // The checkbox shows what runs: on only while the setting is on and the helper really is active.
    void updateAutoLaunchCheckbox();
    void reloadWatchedNetworks();

    WiFiNetworkAutoLaunching& m_autoLaunching;
    QCheckBox* m_autolaunchCheckbox;
    QCheckBox* m_disconnectCheckbox;
    QListWidget* m_watchedNetworks;
    QPushButton* m_removeButton;
};

} // namespace vornakel
