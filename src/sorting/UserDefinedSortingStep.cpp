#include "sorting/UserDefinedSortingStep.h"

namespace vornakel {

UserDefinedSortingStep::UserDefinedSortingStep()
    : m_parts(std::make_shared<const Parts>())
{
}

UserDefinedSortingStep::UserDefinedSortingStep(QVariantList representedObjects)
    : m_representedObjects(std::move(representedObjects))
{
    compile();
}

UserDefinedSortingStep::Ptr UserDefinedSortingStep::create(QVariantList representedObjects)
{
    return std::make_shared<UserDefinedSortingStep>(std::move(representedObjects));
}

UserDefinedSortingStep::Ptr UserDefinedSortingStep::copy() const
{
    return create(m_representedObjects);
}

void UserDefinedSortingStep::setTokenFieldRepresentedObjects(QVariantList representedObjects)
{
    m_representedObjects = std::move(representedObjects);
    compile();
}

void UserDefinedSortingStep::compile()
{
    auto parts = std::make_shared<Parts>();
    parts->reserve(size_t(m_representedObjects.size()));
    for (const QVariant& element : m_representedObjects) {
        if (element.typeId() == QMetaType::QString) {
            if (!element.toString().isEmpty())
                parts->emplace_back(element.toString());
        } else if (const auto token = photoSortingToken(element)) {
            parts->emplace_back(*token);
        }
    }
    m_parts.store(std::move(parts));
}

QString UserDefinedSortingStep::makeName(const PhotoVariant& variant, const SortingContext& context) const
{
    const std::shared_ptr<const Parts> parts = m_parts.load();
    if (parts->size() == 1) {
        const Part& only = parts->front();
        if (const QString* literal = std::get_if<QString>(&only))
            return *literal;
        QString name = sortingStep(std::get<PhotoSortingToken>(only)).name(variant, context);
        return name.isEmpty() ? unknownName() : name;
    }
    QString result;
    for (const Part& part : *parts) {
        if (const QString* literal = std::get_if<QString>(&part))
            result += *literal;
        else
            result += sortingStep(std::get<PhotoSortingToken>(part)).name(variant, context);
    }
    return result.isEmpty() ? unknownName() : result;
}

QString UserDefinedSortingStep::archiveClassName()
{
    return QStringLiteral("Vornakel_Transfer.UserDefinedSortingStep");
}

QString UserDefinedSortingStep::tokenObjectsKey()
{
    return QStringLiteral("tokenObjects");
}

ArchivedObjectPtr UserDefinedSortingStep::encode() const
{
    auto archived = std::make_shared<ArchivedObject>();
    archived->classes = {archiveClassName(), QStringLiteral("NSObject")};
    archived->fields.insert(tokenObjectsKey(), QVariant(m_representedObjects));
    return archived;
}

UserDefinedSortingStep::Ptr UserDefinedSortingStep::decode(const ArchivedObject& archived)
{
    const QVariant tokenObjects = archived.fields.value(tokenObjectsKey());
    if (tokenObjects.typeId() != QMetaType::QVariantList)
        return create();
    return create(tokenObjects.toList());
}

} // namespace vornakel
