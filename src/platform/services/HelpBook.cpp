#include "platform/services/HelpBook.h"

#include "platform/services/Workspace.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>

namespace vornakel {
namespace {

const QString kIndexPage = QStringLiteral("index.html");

bool pageDefinesAnchor(const QString& pagePath, const QString& anchor)
{
    QFile file(pagePath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QString html = QString::fromUtf8(file.readAll());
    const QRegularExpression definition(QStringLiteral(R"re(\b(?:id|name)\s*=\s*"%1")re")
                                            .arg(QRegularExpression::escape(anchor)));
    return definition.match(html).hasMatch();
}

} // namespace

QString HelpBook::helpBookName()
{
    static const QString name = appIdentifierPrefix() + QStringLiteral(".zediriri-zir.help");
    return name;
}

QString HelpBook::defaultInstallFolder()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return QDir(base).filePath(bundleIdentifier() + QStringLiteral("/Help"));
}

namespace {
HelpBook* gInstalledBook = nullptr;
} // namespace

HelpBook& HelpBook::shared()
{
    if (!gInstalledBook)
        qFatal("HelpBook::shared() was asked for before a book was installed with HelpBook::setShared()");
    return *gInstalledBook;
}

void HelpBook::setShared(HelpBook* book) { gInstalledBook = book; }

HelpBook::HelpBook(Workspace& workspace, QString resourceFolder, QString installFolder)
    : m_workspace(workspace), m_resourceFolder(std::move(resourceFolder)), m_installFolder(std::move(installFolder))
{
}

std::optional<Error> HelpBook::registerBooks()
{
    const QDir source(m_resourceFolder);
    const QStringList pages = source.entryList({QStringLiteral("*.html"), QStringLiteral("*.css")}, QDir::Files, QDir::Name);
    if (pages.isEmpty())
        return Error(errorDomain(), NoPages, QStringLiteral("No help pages in %1.").arg(m_resourceFolder));
    if (!QDir().mkpath(m_installFolder))
        return Error(errorDomain(), WriteFailed, QStringLiteral("Cannot create %1.").arg(m_installFolder));
    for (const QString& page : pages) {
        QFile in(source.filePath(page));
        QSaveFile out(QDir(m_installFolder).filePath(page));
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly) || out.write(in.readAll()) < 0
            || !out.commit()) {
            return Error(errorDomain(), WriteFailed, QStringLiteral("Cannot install the help page %1.").arg(page));
        }
    }
    m_registered = true;
    return std::nullopt;
}

std::optional<QUrl> HelpBook::urlForAnchor(const QString& anchor, const QString& book) const
{
    if (!m_registered || book != helpBookName())
        return std::nullopt;
    const QDir folder(m_installFolder);
    if (!anchor.isEmpty()) {
        for (const QString& page : folder.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name)) {
            if (pageDefinesAnchor(folder.filePath(page), anchor)) {
                QUrl url = QUrl::fromLocalFile(folder.filePath(page));
                url.setFragment(anchor);
                return url;
            }
        }
    }
    return QUrl::fromLocalFile(folder.filePath(kIndexPage));
}

bool HelpBook::openHelpAnchor(const QString& anchor, const QString& book)
{
    if (!m_registered && registerBooks())
        return false;
    const std::optional<QUrl> url = urlForAnchor(anchor, book);
    if (!url)
        return false;
    return m_workspace.openUrl(*url);
}

} // namespace vornakel
