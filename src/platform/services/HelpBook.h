#pragma once

#include "platform/core/Error.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace vornakel {

class Workspace;

// The application's help: HTML pages compiled in as resources (":/help"), copied at start-up into a folder the
// browser can read, and opened at a named anchor ("Help_CopyFolder", ...).
class HelpBook {
public:
    // The one book this application has: the app identifier prefix followed by ".zediriri-zir.help".
    static QString helpBookName();
    // "<XDG cache>/com.vornakel.zediriri-zir/Help".
    static QString defaultInstallFolder();

    // The book the composition point (or a test) installed; asking before one was installed ends the program.
    static HelpBook& shared();
    static void setShared(HelpBook* book);

    // Pages open through `workspace`, which must outlive the book.
    explicit HelpBook(Workspace& workspace, QString resourceFolder = QStringLiteral(":/help"),
                      QString installFolder = defaultInstallFolder());

    // Copies the pages into the install folder, each through a temporary file renamed into place.
    [[nodiscard]] std::optional<Error> registerBooks();
    bool isRegistered() const { return m_registered; }

    // The page holding the anchor (its element with id or name equal to the anchor), with the anchor as the
    // fragment; the index page for an empty or unknown anchor; none for another book or before registering.
    std::optional<QUrl> urlForAnchor(const QString& anchor, const QString& book = helpBookName()) const;

    // Registers when needed, then opens the page through the book's workspace.
    bool openHelpAnchor(const QString& anchor, const QString& book = helpBookName());

    const QString& installFolder() const { return m_installFolder; }

    inline static QString errorDomain() { return appIdentifierPrefix() + QStringLiteral(".help"); }
    enum ErrorCode { NoPages = 1, WriteFailed = 2 };

private:
    Workspace& m_workspace;
    QString m_resourceFolder;
    QString m_installFolder;
    bool m_registered = false;
};

} // namespace vornakel
