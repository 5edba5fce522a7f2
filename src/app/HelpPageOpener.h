#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace vornakel {

// Opens a help page with the desktop's opener ("xdg-open") and tells whether anything could show it. The
// opener answers late (it may first look for a browser), so the answer comes through `done` on the main thread.
class HelpPageOpener : public QObject {
    Q_OBJECT
public:
    explicit HelpPageOpener(QString program = QStringLiteral("xdg-open"), QObject* parent = nullptr);
    ~HelpPageOpener() override;

    // `done(false)` when the opener is missing, cannot start, or ends with an error (no browser for the page).
    void open(const QUrl& page, std::function<void(bool opened)> done);

private:
    QString m_program;
};

} // namespace vornakel
