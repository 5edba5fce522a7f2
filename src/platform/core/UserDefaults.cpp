#include "platform/core/UserDefaults.h"

#include "platform/core/Error.h"
#include "platform/core/KeyedArchive.h"
#include "platform/core/PropertyList.h"
#include "platform/core/RegularFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtDebug>
#include <QLoggingCategory>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

namespace vornakel {
namespace {

Q_LOGGING_CATEGORY(lcSettings, "vornakel.settings")

// Far more than any settings file holds.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;
const QString kUrlClass = QStringLiteral("NSURL");
const QString kUrlBaseField = QStringLiteral("NS.base");
const QString kUrlRelativeField = QStringLiteral("NS.relative");

// Brings a value into the form it reads back as, so a value compares equal before and after a round trip:
// integers as qint64, string lists as lists, URLs as archived NSURL data.
std::optional<QVariant> storable(const QVariant& value)
{
    if (value.typeId() == QMetaType::QUrl) {
        auto object = std::make_shared<ArchivedObject>();
        object->classes = {kUrlClass, QStringLiteral("NSObject")};
        object->fields.insert(kUrlBaseField, QVariant());
        object->fields.insert(kUrlRelativeField, value.toUrl().toString(QUrl::FullyEncoded));
        auto archived = KeyedArchive::archive(QVariant::fromValue(object));
        if (archived)
            return QVariant(*archived);
        return std::nullopt;
    }
    auto encoded = PropertyList::toBinary(value);
    if (!encoded)
        return std::nullopt;
    auto decoded = PropertyList::fromData(*encoded);
    if (decoded)
        return *decoded;
    return std::nullopt;
}

// Why the settings file gave no contents, from the errno of the read.
QString unreadableFileReason(int errorNumber)
{
    switch (errorNumber) {
    case EINVAL:
    case EFBIG:
        return QStringLiteral("it is not a regular file of a sensible size");
    case EACCES:
    case EPERM:
        return QStringLiteral("it cannot be read (permission denied)");
    default:
        return QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errorNumber)).toLower());
    }
}

} // namespace

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* defaults = [] {
        auto* created = new UserDefaults(standardFilePath());
        // The store lives as long as the process; changes made just before quitting are written then.
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, created, &UserDefaults::synchronize);
        return created;
    }();
    return *defaults;
}

QString UserDefaults::standardFilePath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(bundleIdentifier() + QStringLiteral("/UserDefaults.plist"));
}

UserDefaults::UserDefaults(const QString& filePath, QObject* parent)
    : QObject(parent)
    , m_filePath(QFileInfo(filePath).absoluteFilePath())
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    if (QFileInfo::exists(m_filePath))
        m_stored = readStoredValues();
}

UserDefaults::~UserDefaults()
{
    synchronize();
}

QVariantMap UserDefaults::readStoredValues()
{
    if (!QFileInfo::exists(m_filePath) && !QFileInfo(m_filePath).isSymLink())
        return {};
    // Read only as a regular file: a FIFO in its place would block the application for ever.
    int errorNumber = 0;
    const std::optional<QByteArray> contents = readRegularFile(m_filePath, kMaxFileSize, &errorNumber);
    Result<QVariant> read = contents ? PropertyList::fromData(*contents)
                                     : Result<QVariant>(Error(PropertyList::errorDomain(), PropertyList::CorruptData,
                                                              unreadableFileReason(errorNumber)));
    if (read && read->typeId() == QMetaType::QVariantMap)
        return read->toMap();

    // Writing over a file we cannot read would lose whatever the user had; keep it for a person to look at.
    const QString problem = !read ? read.error().description() : QStringLiteral("it does not hold a dictionary");
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString aside = m_filePath + QStringLiteral(".unreadable-") + stamp;
    for (int counter = 2; QFileInfo::exists(aside); ++counter)
        aside = m_filePath + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(counter);
    if (QFile::rename(m_filePath, aside)) {
        m_setAsidePath = aside;
        qCWarning(lcSettings).noquote() << QStringLiteral("The settings file %1 could not be read (%2); it is kept as %3 and "
                                               "the settings start from their defaults.")
                                    .arg(m_filePath, problem, aside);
    } else {
        qCWarning(lcSettings).noquote() << QStringLiteral("The settings file %1 could not be read (%2) nor set aside.")
                                    .arg(m_filePath, problem);
    }
    return {};
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        const QVariant before = object(it.key());
        m_registered.insert(it.key(), it.value());
        if (object(it.key()) != before)
            emit changed(it.key());
    }
}

QVariant UserDefaults::object(const QString& key) const
{
    const auto stored = m_stored.constFind(key);
    if (stored != m_stored.cend())
        return *stored;
    return m_registered.value(key);
}

bool UserDefaults::hasStoredValue(const QString& key) const
{
    return m_stored.contains(key);
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant value = object(key);
    // A file edited by hand may hold a switch as text.
    if (value.typeId() == QMetaType::QString)
        return value.toString() == QLatin1String("true") || value.toString().toLongLong() != 0;
    return value.toBool();
}

qint64 UserDefaults::integerForKey(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::QString && value.toString() == QLatin1String("true"))
        return 1;
    return value.toLongLong();
}

double UserDefaults::doubleForKey(const QString& key) const
{
    return object(key).toDouble();
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const QVariant value = object(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QByteArray UserDefaults::dataForKey(const QString& key) const
{
    const QVariant value = object(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

QStringList UserDefaults::stringArrayForKey(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList strings;
        for (const QVariant& element : value.toList()) {
            if (element.typeId() != QMetaType::QString)
                return {};
            strings << element.toString();
        }
        return strings;
    }
    // A one-element list written by hand may be a plain string.
    if (value.typeId() == QMetaType::QString)
        return {value.toString()};
    return {};
}

std::optional<qint64> UserDefaults::optionalIntegerForKey(const QString& key) const
{
    const QVariant value = object(key);
    bool ok = false;
    qint64 number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        number = value.toLongLong(&ok);
        break;
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong unsignedNumber = value.toULongLong(&ok);
        ok = ok && unsignedNumber <= qulonglong(std::numeric_limits<qint64>::max());
        number = qint64(unsignedNumber);
        break;
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double floating = value.toDouble();
        ok = std::isfinite(floating) && std::trunc(floating) == floating && std::abs(floating) < 9.0e18;
        number = qint64(floating);
        break;
    }
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok);
        break;
    default:
        break;
    }
    if (!ok)
        return std::nullopt;
    return number;
}

QVariantList UserDefaults::arrayForKey(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        return value.toList();
    return {};
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const
{
    const QVariant value = object(key);
    return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
}

QDateTime UserDefaults::dateForKey(const QString& key) const
{
    const QVariant value = object(key);
    return value.typeId() == QMetaType::QDateTime ? value.toDateTime() : QDateTime();
}

QUrl UserDefaults::urlForKey(const QString& key) const
{
    const QVariant value = object(key);
    if (value.typeId() == QMetaType::QUrl)
        return value.toUrl();
    if (value.typeId() == QMetaType::QString) {
        QString path = value.toString();
        if (path.isEmpty())
            return {};
        if (path.startsWith(QLatin1Char('~')))
            path.replace(0, 1, QDir::homePath());
        return QUrl::fromLocalFile(path);
    }
    if (value.typeId() != QMetaType::QByteArray)
        return {};
    auto unarchived = KeyedArchive::unarchive(value.toByteArray());
    if (!unarchived || unarchived->metaType() != QMetaType::fromType<ArchivedObjectPtr>())
        return {};
    const ArchivedObjectPtr url = unarchived->value<ArchivedObjectPtr>();
    if (!url || url->className() != kUrlClass)
        return {};
    const QVariant relative = url->fields.value(kUrlRelativeField);
    if (relative.typeId() != QMetaType::QString)
        return {};
    QUrl result(relative.toString(), QUrl::StrictMode);
    const QVariant base = url->fields.value(kUrlBaseField);
    if (base.metaType() == QMetaType::fromType<ArchivedObjectPtr>()) {
        const ArchivedObjectPtr baseUrl = base.value<ArchivedObjectPtr>();
        if (baseUrl && baseUrl->className() == kUrlClass
            && baseUrl->fields.value(kUrlRelativeField).typeId() == QMetaType::QString)
            result = QUrl(baseUrl->fields.value(kUrlRelativeField).toString()).resolved(result);
    }
    return result.isValid() ? result : QUrl();
}

void UserDefaults::setValue(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        removeObject(key);
        return;
    }
    const std::optional<QVariant> normal = storable(value);
    if (!normal) {
        qCWarning(lcSettings).noquote() << QStringLiteral("The setting \"%1\" cannot hold a value of type %2; it is unchanged.")
                                    .arg(key, QString::fromLatin1(value.typeName()));
        return;
    }
    m_stored.insert(key, *normal);
    m_pending.insert(key);
    scheduleWrite();
    emit changed(key);
}

void UserDefaults::setURL(const QString& key, const QUrl& url)
{
    setValue(key, url.isEmpty() ? QVariant() : QVariant(url));
}

void UserDefaults::removeObject(const QString& key)
{
    if (!m_stored.contains(key))
        return;
    m_stored.remove(key);
    m_pending.insert(key);
    scheduleWrite();
    emit changed(key);
}

void UserDefaults::scheduleWrite()
{
    if (m_writeScheduled)
        return;
    m_writeScheduled = true;
    // Several changes in a row are written once, when control returns to the event loop.
    QMetaObject::invokeMethod(this, [this] { synchronize(); }, Qt::QueuedConnection);
}

void UserDefaults::synchronize()
{
    m_writeScheduled = false;
    if (m_pending.isEmpty())
        return;
    // Start from what is on disk so keys another process wrote since we read the file are kept.
    QVariantMap merged = readStoredValues();
    for (const QString& key : std::as_const(m_pending)) {
        const auto local = m_stored.constFind(key);
        if (local != m_stored.cend())
            merged.insert(key, *local);
        else
            merged.remove(key);
    }
    if (auto error = PropertyList::writeBinaryFile(merged, m_filePath)) {
        qCWarning(lcSettings).noquote() << QStringLiteral("The settings could not be saved: %1").arg(error->description());
        return;
    }
    m_pending.clear();
    m_stored = merged;
}

void UserDefaults::reload()
{
    synchronize();
    const QVariantMap before = m_stored;
    const QVariantMap after = readStoredValues();
    m_stored = after;
    QStringList keys = before.keys() + after.keys();
    keys.removeDuplicates();
    for (const QString& key : keys) {
        if (before.value(key) != after.value(key))
            emit changed(key);
    }
}

QString UserDefaults::filePath() const
{
    return m_filePath;
}

} // namespace vornakel
