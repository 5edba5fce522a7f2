#include "sorting/editor/PhotoSortingTokenFieldDelegate.h"

#include "sorting/PhotoSortingToken.h"

#include <QMimeData>

namespace vornakel::PhotoSortingTokenFieldDelegate {

std::optional<QString> displayString(const QVariant& representedObject)
{
    return vornakel::displayString(representedObject);
}

TokenStyle style(const QVariant& representedObject)
{
    return representedObject.typeId() == QMetaType::QString ? TokenStyle::none : TokenStyle::rounded;
}

QVariant representedObjectForEditingString(const QString& editingString)
{
    return QVariant(editingString);
}

QString tokenMimeType()
{
    return QStringLiteral("application/x-vornakel-") + tokenPasteboardType().toLower();
}

void writeRepresentedObjects(const QVariantList& representedObjects, QMimeData& mimeData)
{
    auto data = tokenPasteboardData(representedObjects);
    // Tokens that cannot be archived still go out as their text below.
    if (data)
        mimeData.setData(tokenMimeType(), *data);
    QString text;
    for (const QVariant& object : representedObjects)
        text += displayString(object).value_or(QString());
    mimeData.setText(text);
}

std::unique_ptr<QMimeData> mimeDataFor(const QVariantList& representedObjects)
{
    auto mimeData = std::make_unique<QMimeData>();
    writeRepresentedObjects(representedObjects, *mimeData);
    return mimeData;
}

std::optional<QVariantList> readFromPasteboard(const QMimeData& mimeData)
{
    if (!mimeData.hasFormat(tokenMimeType()))
        return std::nullopt;
    return representedObjectsFromTokenPasteboardData(mimeData.data(tokenMimeType()));
}

QVariantList pastedObjects(const QMimeData& mimeData)
{
    if (auto objects = readFromPasteboard(mimeData))
        return *objects;
    if (!mimeData.hasText())
        return {};
    QString text = mimeData.text();
    for (QChar& character : text) {
        if (character.category() == QChar::Other_Control || character == QChar::LineSeparator
            || character == QChar::ParagraphSeparator)
            character = QLatin1Char(' ');
    }
    if (text.isEmpty())
        return {};
    return {representedObjectForEditingString(text)};
}

} // namespace vornakel::PhotoSortingTokenFieldDelegate
