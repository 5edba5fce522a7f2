#include "sorting/PhotoSortingModel.h"

#include "platform/core/KeyedArchive.h"
#include "platform/core/UserDefaults.h"

#include <QCoreApplication>
#include <QtDebug>
#include <QLoggingCategory>

#include <algorithm>
#include <tuple>

namespace vornakel {
namespace {

Q_LOGGING_CATEGORY(lcSorting, "vornakel.sorting")

QString errorDomain()
{
    return appIdentifierPrefix() + QStringLiteral(".photo-sorting");
}

enum ErrorCode { NotAPresetList = 1, UnknownClass = 2 };

// Our own classes and the archive format's own value classes (named "NS…", such as a date in a pattern) are
// readable; another program's or another build's classes are not.
bool isReadableClass(const QString& name)
{
    return name == UserDefinedPhotoSorting::archiveClassName() || name == UserDefinedSortingStep::archiveClassName()
           || name.startsWith(QLatin1String("NS"));
}

} // namespace

PhotoSortingModel::PhotoSortingModel(UserDefaults& defaults, Clock clock, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
    , m_builtIn{UserDefinedPhotoSorting::byPaddedNumericDate(), UserDefinedPhotoSorting::flat()}
{
    load();
}

QString PhotoSortingModel::userDefinedPresetsUserDefaultsKey()
{
    return QStringLiteral("UserDefinedPresets");
}

QString PhotoSortingModel::unreadablePresetsKeyPrefix()
{
    return userDefinedPresetsUserDefaultsKey() + QStringLiteral(".unreadable-");
}

void PhotoSortingModel::setUserDefined(std::vector<PresetPtr> presets)
{
    std::erase(presets, nullptr);
    m_userDefined = std::move(presets);
    emit userDefinedChanged();
}

PhotoSortingModel::PresetPtr PhotoSortingModel::preset(const QString& identifier) const
{
    for (const auto* list : {&m_builtIn, &m_userDefined}) {
        for (const PresetPtr& candidate : *list) {
            if (candidate->presetId() == identifier)
                return candidate;
        }
    }
    return nullptr;
}

PhotoSortingModel::PresetPtr PhotoSortingModel::createUserPreset(const UserDefinedPhotoSorting& source)
{
    PresetPtr created = UserDefinedPhotoSorting::duplicateOf(source);
    std::vector<PresetPtr> presets = m_userDefined;
    presets.push_back(created);
    setUserDefined(std::move(presets));
    saveUserDefinedPresets();
    return created;
}

void PhotoSortingModel::removeUserPreset(const PresetPtr& preset)
{
    const auto it = std::find(m_userDefined.begin(), m_userDefined.end(), preset);
    if (!preset || it == m_userDefined.end())
        return;
    std::vector<PresetPtr> presets = m_userDefined;
    presets.erase(presets.begin() + (it - m_userDefined.begin()));
    setUserDefined(std::move(presets));
    saveUserDefinedPresets();
}

std::optional<Error> PhotoSortingModel::commitUserDefinedPresets(bool force)
{
    auto data = encodePresets(m_userDefined);
    if (!data) {
        // Leave what is stored untouched rather than replace it with nothing.
        qCWarning(lcSorting).noquote() << "Could not store the sorting presets:" << data.error().description();
        return data.error();
    }
    m_defaults.setValue(userDefinedPresetsUserDefaultsKey(), *data);
    if (force)
        m_defaults.synchronize();
    return std::nullopt;
}

void PhotoSortingModel::saveUserDefinedPresets()
{
    // The failure is logged where it happens; the presets stay in memory and the next save writes them.
    std::ignore = commitUserDefinedPresets(false);
}

void PhotoSortingModel::applicationWillTerminate()
{
    // Logged where it happens; at quit there is nobody left to tell.
    std::ignore = commitUserDefinedPresets(true);
}

Result<QByteArray> PhotoSortingModel::encodePresets(const std::vector<PresetPtr>& presets)
{
    QVariantList root;
    root.reserve(qsizetype(presets.size()));
    for (const PresetPtr& preset : presets)
        root.append(QVariant::fromValue(preset->encode()));
    return KeyedArchive::archive(root);
}

Result<std::vector<PhotoSortingModel::PresetPtr>> PhotoSortingModel::decodePresets(
    const QByteArray& data)
{
    auto unarchived = KeyedArchive::unarchive(data, isReadableClass);
    if (!unarchived) {
        const Error& error = unarchived.error();
        if (error.domain == KeyedArchive::errorDomain() && error.code == KeyedArchive::UnknownClass)
            return Error(errorDomain(), UnknownClass, error.message, error.userInfo);
        return error;
    }
    const QVariant& root = *unarchived;
    if (root.typeId() != QMetaType::QVariantList)
        return Error(errorDomain(), NotAPresetList, QStringLiteral("The archive does not hold a list of presets"));

    const QVariantList elements = root.toList();
    std::vector<PresetPtr> presets;
    presets.reserve(size_t(elements.size()));
    for (qsizetype i = 0; i < elements.size(); ++i) {
        const QVariant& element = elements[i];
        const ArchivedObjectPtr object = element.typeId() == qMetaTypeId<ArchivedObjectPtr>()
                                             ? element.value<ArchivedObjectPtr>()
                                             : nullptr;
        if (!object || object->className() != UserDefinedPhotoSorting::archiveClassName())
            return Error(errorDomain(), NotAPresetList, QStringLiteral("The archive does not hold a list of presets"));
        presets.push_back(UserDefinedPhotoSorting::decode(*object, i));
    }
    return presets;
}

void PhotoSortingModel::load()
{
    const QString key = userDefinedPresetsUserDefaultsKey();
    const QVariant stored = m_defaults.object(key);
    if (!stored.isValid())
        return;

    std::optional<Error> failure;
    if (stored.typeId() != QMetaType::QByteArray) {
        failure = Error(errorDomain(), NotAPresetList, QStringLiteral("The stored value is not data"));
    } else {
        if (stored.toByteArray().isEmpty())
            return;
        auto decoded = decodePresets(stored.toByteArray());
        if (decoded) {
            setUserDefined(std::move(decoded).value());
            return;
        }
        failure = decoded.error();
    }

    // The next commit replaces the stored value; keep the user's presets aside instead of losing them silently.
    const QString stamp = m_clock().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmsszzz'Z'"));
    QString asideKey = unreadablePresetsKeyPrefix() + stamp;
    for (int counter = 2; m_defaults.hasStoredValue(asideKey); ++counter)
        asideKey = unreadablePresetsKeyPrefix() + stamp + QLatin1Char('-') + QString::number(counter);
    m_defaults.setValue(asideKey, stored);
    m_defaults.synchronize();
    qCWarning(lcSorting).noquote() << QStringLiteral("The stored sorting presets (\"%1\") could not be read (%2); they are kept "
                                           "under \"%3\" and the list starts empty.")
                                .arg(key, failure->description(), asideKey);
}

} // namespace vornakel
