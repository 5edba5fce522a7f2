#include "sorting/UserDefinedPhotoSorting.h"

#include "platform/core/Error.h"
#include "platform/core/Strings.h"

#include <QUuid>

#include <algorithm>

namespace vornakel {
namespace {

const QString kNameKey = QStringLiteral("name");
const QString kIdKey = QStringLiteral("id");
const QString kFoldersKey = QStringLiteral("folders");
const QString kFileNameKey = QStringLiteral("fileName");

QString newIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

UserDefinedSortingStepPtr tokenStep(PhotoSortingToken token)
{
    return UserDefinedSortingStep::create({QVariant(tokenObject(token))});
}

// Enough of a preset's text to tell presets apart; an archive whose parts are shared many times over would
// otherwise expand into a text of exponential length.
constexpr qsizetype kMaxCanonicalSize = 64 * 1024;

// A stable text for an archived value, to derive an identifier from; unlike the archive's bytes it does not
// depend on how the archiver numbers its objects.
void appendCanonical(QByteArray& out, const QVariant& value)
{
    if (out.size() > kMaxCanonicalSize)
        return;
    if (value.typeId() == qMetaTypeId<ArchivedObjectPtr>()) {
        const ArchivedObjectPtr object = value.value<ArchivedObjectPtr>();
        out += "o(";
        if (object) {
            out += object->className().toUtf8();
            for (auto it = object->fields.cbegin(); it != object->fields.cend(); ++it) {
                out += ';' + it.key().toUtf8() + '=';
                appendCanonical(out, it.value());
            }
        }
        out += ')';
        return;
    }
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QByteArray text = value.toString().toUtf8();
        out += "s" + QByteArray::number(text.size()) + ':' + text;
        return;
    }
    case QMetaType::QVariantList:
        out += "a(";
        for (const QVariant& element : value.toList()) {
            appendCanonical(out, element);
            out += ',';
        }
        out += ')';
        return;
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        out += "m(";
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            out += it.key().toUtf8() + '=';
            appendCanonical(out, it.value());
            out += ',';
        }
        out += ')';
        return;
    }
    case QMetaType::QByteArray:
        out += "d" + value.toByteArray().toHex();
        return;
    default:
        out += QByteArray(value.typeName() ? value.typeName() : "null") + ':' + value.toString().toUtf8();
        return;
    }
}

QString derivedIdentifier(const ArchivedObject& archived, qsizetype position)
{
    static const QUuid kNamespace(QStringLiteral("{8a4f3c1e-2b6d-4e7a-9c05-7d1e6b3a9f42}"));
    QByteArray canonical = "position=" + QByteArray::number(position) + ';';
    for (const QString& key : {kNameKey, kFoldersKey, kFileNameKey}) {
        canonical += key.toUtf8() + '=';
        appendCanonical(canonical, archived.fields.value(key));
        canonical += ';';
    }
    return QUuid::createUuidV5(kNamespace, canonical).toString(QUuid::WithoutBraces).toUpper();
}

UserDefinedSortingStepPtr decodeStep(const QVariant& value)
{
    if (value.typeId() != qMetaTypeId<ArchivedObjectPtr>())
        return nullptr;
    const ArchivedObjectPtr object = value.value<ArchivedObjectPtr>();
    if (!object || object->className() != UserDefinedSortingStep::archiveClassName())
        return nullptr;
    return UserDefinedSortingStep::decode(*object);
}

PhotoSorting::StepList untyped(std::vector<UserDefinedSortingStepPtr> steps)
{
    PhotoSorting::StepList list;
    list.reserve(steps.size());
    for (UserDefinedSortingStepPtr& step : steps) {
        if (step)
            list.push_back(std::move(step));
    }
    return list;
}

} // namespace

UserDefinedPhotoSorting::UserDefinedPhotoSorting(QString name, QString presetId, StepPtr fileNameStep,
                                                 std::vector<StepPtr> folderSteps)
    : UserDefinedPhotoSorting(std::move(name), std::move(presetId),
                              fileNameStep ? std::move(fileNameStep) : UserDefinedSortingStep::create(),
                              untyped(std::move(folderSteps)))
{
}

UserDefinedPhotoSorting::UserDefinedPhotoSorting(QString name, QString presetId, StepPtr fileNameStep,
                                                 StepList folderSteps)
    : PhotoSorting(fileNameStep, std::move(folderSteps))
    , m_name(std::move(name))
    , m_presetId(std::move(presetId))
    , m_typedFileNameStep(std::move(fileNameStep))
{
}

std::vector<UserDefinedPhotoSorting::StepPtr> UserDefinedPhotoSorting::typedFolderSteps() const
{
    // Every step of this class of preset is a user-defined step: only the typed constructor and edits add any.
    const std::shared_ptr<const StepList> steps = folderSteps();
    std::vector<StepPtr> typed;
    typed.reserve(steps->size());
    for (const auto& step : *steps)
        typed.push_back(std::static_pointer_cast<UserDefinedSortingStep>(step));
    return typed;
}

void UserDefinedPhotoSorting::storeFolderSteps(const std::vector<StepPtr>& steps)
{
    setFolderSteps(untyped(steps));
    emit folderStepsChanged();
}

UserDefinedPhotoSorting::Ptr UserDefinedPhotoSorting::create(QString name, QString presetId, StepPtr fileNameStep,
                                                             std::vector<StepPtr> folderSteps)
{
    return std::make_shared<UserDefinedPhotoSorting>(std::move(name), std::move(presetId), std::move(fileNameStep),
                                                     std::move(folderSteps));
}

UserDefinedPhotoSorting::Ptr UserDefinedPhotoSorting::duplicateOf(const UserDefinedPhotoSorting& source)
{
    std::vector<StepPtr> folders;
    for (const StepPtr& step : source.typedFolderSteps())
        folders.push_back(step->copy());
    return create(GeneralUI::format(QStringLiteral("NewUserDefinedSortingName"), {source.m_name}), newIdentifier(),
                  source.m_typedFileNameStep->copy(), std::move(folders));
}

QString UserDefinedPhotoSorting::byPaddedNumericDateIdentifier()
{
    return appIdentifierPrefix() + QStringLiteral(".zediriri-zir.preset.padded-numeric-date");
}

QString UserDefinedPhotoSorting::flatIdentifier()
{
    return appIdentifierPrefix() + QStringLiteral(".zediriri-zir.preset.flat");
}

const UserDefinedPhotoSorting::Ptr& UserDefinedPhotoSorting::byPaddedNumericDate()
{
    static const Ptr preset = create(GeneralUI::text(QStringLiteral("PresetNumericByDateName")),
                                     byPaddedNumericDateIdentifier(), tokenStep(PhotoSortingToken::originalFileName),
                                     {tokenStep(PhotoSortingToken::fourDigitYear),
                                      tokenStep(PhotoSortingToken::twoDigitMonth),
                                      tokenStep(PhotoSortingToken::twoDigitDay)});
    return preset;
}

const UserDefinedPhotoSorting::Ptr& UserDefinedPhotoSorting::flat()
{
    static const Ptr preset = create(GeneralUI::text(QStringLiteral("PresetFlatName")), flatIdentifier(),
                                     tokenStep(PhotoSortingToken::originalFileName), {});
    return preset;
}

void UserDefinedPhotoSorting::setName(const QString& name)
{
    if (name == m_name)
        return;
    m_name = name;
    emit nameChanged();
}

void UserDefinedPhotoSorting::remove(const StepPtr& folderStep)
{
    std::vector<StepPtr> steps = typedFolderSteps();
    const auto it = std::find(steps.begin(), steps.end(), folderStep);
    if (it == steps.end())
        return;
    steps.erase(it);
    storeFolderSteps(steps);
}

UserDefinedPhotoSorting::StepPtr UserDefinedPhotoSorting::addStep(const StepPtr& after)
{
    StepPtr step = UserDefinedSortingStep::create();
    std::vector<StepPtr> steps = typedFolderSteps();
    const auto it = after ? std::find(steps.begin(), steps.end(), after) : steps.end();
    if (it == steps.end())
        steps.push_back(step);
    else
        steps.insert(it + 1, step);
    storeFolderSteps(steps);
    return step;
}

QString UserDefinedPhotoSorting::archiveClassName()
{
    return QStringLiteral("Vornakel_Transfer.UserDefinedPhotoSorting");
}

QStringList UserDefinedPhotoSorting::archiveClasses()
{
    return {archiveClassName(), QStringLiteral("Vornakel_Transfer.PhotoSorting"), QStringLiteral("NSObject")};
}

ArchivedObjectPtr UserDefinedPhotoSorting::encode() const
{
    auto archived = std::make_shared<ArchivedObject>();
    archived->classes = archiveClasses();
    QVariantList folders;
    for (const StepPtr& step : typedFolderSteps())
        folders.append(QVariant::fromValue(step->encode()));
    archived->fields.insert(kNameKey, m_name);
    archived->fields.insert(kIdKey, m_presetId);
    archived->fields.insert(kFoldersKey, folders);
    archived->fields.insert(kFileNameKey, QVariant::fromValue(m_typedFileNameStep->encode()));
    return archived;
}

UserDefinedPhotoSorting::Ptr UserDefinedPhotoSorting::decode(const ArchivedObject& archived, qsizetype position)
{
    const QVariant name = archived.fields.value(kNameKey);
    const QVariant id = archived.fields.value(kIdKey);
    const QVariant folders = archived.fields.value(kFoldersKey);

    std::vector<StepPtr> folderSteps;
    if (folders.typeId() == QMetaType::QVariantList) {
        const QVariantList elements = folders.toList();
        // An array holding anything but steps is of another type as a whole, as it would be for a typed decoder.
        for (const QVariant& element : elements) {
            StepPtr step = decodeStep(element);
            if (!step) {
                folderSteps.clear();
                break;
            }
            folderSteps.push_back(std::move(step));
        }
    }

    return create(name.typeId() == QMetaType::QString ? name.toString() : PhotoSortingStep::unknownName(),
                  id.typeId() == QMetaType::QString ? id.toString() : derivedIdentifier(archived, position),
                  decodeStep(archived.fields.value(kFileNameKey)), std::move(folderSteps));
}

} // namespace vornakel
