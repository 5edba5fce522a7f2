#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace vornakel {

class LrPluginBridge;

// The Advanced pane of the preferences window: whether the editor's plug-in is installed, and buttons to
// install, reinstall or remove it. The editor must quit first; the user is asked before it is told to, and the
// buttons rest while the bridge waits for it (up to its quit timeout) and changes the plug-in folder.
class AdvancedPreferencesViewController : public QWidget {
    Q_OBJECT
public:
    explicit AdvancedPreferencesViewController(LrPluginBridge& bridge, QWidget* parent = nullptr);

    QLabel* statusLabel() const { return m_statusLabel; }
    QPushButton* installButton() const { return m_installButton; }
    QPushButton* removeButton() const { return m_removeButton; }
    QLabel* progressLabel() const { return m_progressLabel; }
    bool isBusy() const { return m_busy; }
    bool isAskingToQuit() const { return m_asking; }

    // The plug-in folder to install; the one in the program's resources unless set.
    void setPluginSource(const QString& source) { m_pluginSource = source; }

    void installPlugin();
    void removePlugin();
    // A warning sheet on the pane's window with the title and the fixed explanation.
    void displayPluginInstallErrorWith(const QString& title);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateForPluginInstalledChanged();
    // Runs the operation once the editor has quit, asking the user first when it runs.
    void afterQuittingLightroom(std::function<void()> operation);
    void setBusy(bool busy);

    LrPluginBridge& m_bridge;
    QString m_pluginSource;
    QLabel* m_statusLabel;
    QPushButton* m_installButton;
    QPushButton* m_removeButton;
    QProgressBar* m_progress;
    QLabel* m_progressLabel;
    bool m_busy = false;
    bool m_asking = false;
};

} // namespace vornakel
