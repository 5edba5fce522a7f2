#include "platform/imaging/ImageFileTypes.h"

#include <QHash>

namespace vornakel::ImageFileTypes {
namespace {

const QHash<QString, Kind>& kindsByExtension()
{
    static const QHash<QString, Kind> kinds = [] {
        QHash<QString, Kind> table;
        const auto add = [&table](Kind kind, std::initializer_list<const char*> list) {
            for (const char* extension : list)
                table.insert(QString::fromLatin1(extension), kind);
        };
        add(Kind::jpeg, {"jpg", "jpeg"});
        add(Kind::heif, {"heic", "heif", "hif"});
        add(Kind::raw, {"3fr", "ari", "arw", "bay", "cr2", "cr3", "crw", "dcr", "dcs", "dng", "erf", "fff", "gpr",
                        "iiq", "k25", "kdc", "mef", "mos", "mrw", "nef", "nrw", "orf", "ori", "pef", "ptx", "raf",
                        "raw", "rw2", "rwl", "sr2", "srf", "srw", "x3f"});
        add(Kind::other, {"tif", "tiff", "png"});
        return table;
    }();
    return kinds;
}

} // namespace

Kind kindOfFileName(const QString& fileName)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    // No extension, or only a leading dot (a hidden file's name).
    if (dot <= slash + 1 || dot == fileName.size() - 1)
        return Kind::none;
    return kindsByExtension().value(fileName.mid(dot + 1).toLower(), Kind::none);
}

QStringList extensions(Kind kind)
{
    QStringList list;
    const auto& kinds = kindsByExtension();
    for (auto it = kinds.cbegin(); it != kinds.cend(); ++it) {
        if (it.value() == kind)
            list << it.key();
    }
    list.sort();
    return list;
}

} // namespace vornakel::ImageFileTypes
