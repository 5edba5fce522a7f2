#include "model/PhotoVariant.h"

#include "model/RemoteItemLocations.h"
#include "platform/imaging/ImageFileTypes.h"

namespace vornakel {

std::shared_ptr<PhotoVariant> PhotoVariant::create(std::shared_ptr<VKLFileSystemItem> file)
{
    if (!file)
        return nullptr;
    const std::optional<QString> name = file->name();
    if (!name)
        return nullptr;
    std::shared_ptr<PhotoVariant> variant(new PhotoVariant());
    variant->m_fileName = *name;
    variant->m_displayName = deletingPathExtension(*name);
    variant->m_formatFamily = formatFamilyForFileName(*name);
    const uint64_t size = file->size();
    // A size beyond what a signed count holds is as unknown as 0.
    if (size != 0 && size <= uint64_t(std::numeric_limits<qint64>::max()))
        variant->m_size = qint64(size);
    variant->m_dateCreated = file->dateCreated();
    if (const std::optional<int> orientation = file->orientation(); orientation && *orientation >= 1 && *orientation <= 8)
        variant->m_orientation = orientation;
    if (std::optional<VKLShootingData> shooting = file->shootingData(); shooting && !shooting->isEmpty())
        variant->m_shootingData = std::move(shooting);
    variant->m_remoteFolderPath = RemoteItemLocations::folderPath(file);
    variant->m_remoteItem = std::move(file);
    return variant;
}

QString PhotoVariant::uti() const
{
    if (ImageFileTypes::kindOfFileName(m_fileName) == ImageFileTypes::Kind::heif)
        return QStringLiteral("public.heic");
    return m_formatFamily == PhotoFormatFamily::jpeg ? QStringLiteral("public.jpeg")
                                                     : QStringLiteral("public.camera-raw-image");
}

QString PhotoVariant::description() const { return QStringLiteral("Variant: ") + m_fileName; }

QString PhotoVariant::pathExtension(const QString& fileName)
{
    // Like the platform's path-extension rule: the part after the last dot of the last path component, unless
    // that dot starts the name.
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1 || dot == fileName.size() - 1)
        return {};
    return fileName.mid(dot + 1);
}

QString PhotoVariant::deletingPathExtension(const QString& fileName)
{
    const QString extension = pathExtension(fileName);
    if (extension.isEmpty())
        return fileName;
    return fileName.left(fileName.size() - extension.size() - 1);
}

PhotoFormatFamily PhotoVariant::formatFamilyForFileName(const QString& fileName)
{
    // A HEIF file is the camera's processed image, the JPEG's place beside a RAW file.
    switch (ImageFileTypes::kindOfFileName(fileName)) {
    case ImageFileTypes::Kind::jpeg:
    case ImageFileTypes::Kind::heif:
        return PhotoFormatFamily::jpeg;
    default:
        return PhotoFormatFamily::raw;
    }
}

} // namespace vornakel
