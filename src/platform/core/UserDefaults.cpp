#include "platform/core/UserDefaults.h"

#include "platform/core/Error.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vornakel {
namespace {

QVariantMap snapshot(QSettings& settings)
{
    QVariantMap values;
    for (const QString& key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

} // namespace

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* defaults = new UserDefaults(standardFilePath());
    return *defaults;
}

QString UserDefaults::standardFilePath()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(base).filePath(bundleIdentifier() + QStringLiteral("/UserDefaults.ini"));
}

UserDefaults::UserDefaults(const QString& filePath, QObject* parent)
    : QObject(parent)
{
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    m_settings = std::make_unique<QSettings>(filePath, QSettings::IniFormat);
}

UserDefaults::~UserDefaults()
{
    m_settings->sync();
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
    if (m_settings->contains(key))
        return m_settings->value(key);
    return m_registered.value(key);
}

bool UserDefaults::hasStoredValue(const QString& key) const
{
    return m_settings->contains(key);
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const QVariant value = object(key);
    // INI files give booleans back as the strings "true" and "false".
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
    // A one-element list comes back from an INI file as a plain string.
    if (value.typeId() == QMetaType::QString)
        return {value.toString()};
    return {};
}

void UserDefaults::setValue(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        removeObject(key);
        return;
    }
    m_settings->setValue(key, value);
    emit changed(key);
}

void UserDefaults::removeObject(const QString& key)
{
    if (!m_settings->contains(key))
        return;
    m_settings->remove(key);
    emit changed(key);
}

void UserDefaults::synchronize()
{
    m_settings->sync();
}

void UserDefaults::reload()
{
    const QVariantMap before = snapshot(*m_settings);
    const QString path = m_settings->fileName();
    m_settings->sync();
    m_settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    const QVariantMap after = snapshot(*m_settings);
    QStringList keys = before.keys() + after.keys();
    keys.removeDuplicates();
    for (const QString& key : keys) {
        if (before.value(key) != after.value(key))
            emit changed(key);
    }
}

QString UserDefaults::filePath() const
{
    return m_settings->fileName();
}

} // namespace vornakel
