#pragma once

#include "platform/core/UserDefaults.h"

#include <QDateTime>
#include <QTimeZone>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <vector>

namespace vornakel::test {

// One value of every kind the settings store keeps, shared by the tests and the process they start, with the
// typed read that must give it back after the other process wrote it.
struct DefaultsSample {
    QString key;
    std::function<void(UserDefaults&)> write;
    // Empty when the value reads back with its type and value; otherwise what came back.
    std::function<QString(const UserDefaults&)> mismatch;
};

inline QString describe(const QVariant& value)
{
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(value.typeName() ? value.typeName() : "invalid"),
                                       value.toString());
}

// The stored object must have exactly the expected type and value.
inline DefaultsSample storedAs(const QString& key, const QVariant& written, const QVariant& expected)
{
    return {key, [key, written](UserDefaults& defaults) { defaults.setValue(key, written); },
            [key, expected](const UserDefaults& defaults) {
                const QVariant read = defaults.object(key);
                return read.metaType() == expected.metaType() && read == expected ? QString() : describe(read);
            }};
}

inline std::vector<DefaultsSample> defaultsSamples()
{
    const QDateTime date(QDate(2026, 12, 10), QTime(1, 2, 3, 456), QTimeZone::utc());
    const QByteArray data("\x00\xff\x10plist\x00", 9);
    const QUrl url(QStringLiteral("file:///home/me/Pictures/Camera%20Roll/%C3%84"));
    const QVariantMap dictionary{{QStringLiteral("name"), QStringLiteral("Träume")},
                                 {QStringLiteral("count"), qint64(3)},
                                 {QStringLiteral("nested"), QVariantList{true, 1.5}}};
    std::vector<DefaultsSample> samples{
        {QStringLiteral("Bool"), [](UserDefaults& d) { d.setBool(QStringLiteral("Bool"), true); },
         [](const UserDefaults& d) {
             const QVariant read = d.object(QStringLiteral("Bool"));
             return read.typeId() == QMetaType::Bool && d.boolForKey(QStringLiteral("Bool")) ? QString() : describe(read);
         }},
        {QStringLiteral("Integer"), [](UserDefaults& d) { d.setInteger(QStringLiteral("Integer"), -(qint64(1) << 40)); },
         [](const UserDefaults& d) {
             const QVariant read = d.object(QStringLiteral("Integer"));
             return read.typeId() == QMetaType::LongLong && d.integerForKey(QStringLiteral("Integer")) == -(qint64(1) << 40)
                        ? QString()
                        : describe(read);
         }},
        storedAs(QStringLiteral("Real"), 2.5, 2.5),
        storedAs(QStringLiteral("String"), QStringLiteral("Fotos/Ärger 1"), QStringLiteral("Fotos/Ärger 1")),
        storedAs(QStringLiteral("NumericString"), QStringLiteral("42"), QStringLiteral("42")),
        storedAs(QStringLiteral("OneElementList"), QStringList{QStringLiteral("DIRECT-only")},
                 QVariantList{QStringLiteral("DIRECT-only")}),
        storedAs(QStringLiteral("ManyElementList"), QStringList{QStringLiteral("A"), QStringLiteral("B, C")},
                 QVariantList{QStringLiteral("A"), QStringLiteral("B, C")}),
        storedAs(QStringLiteral("EmptyList"), QVariantList{}, QVariantList{}),
        storedAs(QStringLiteral("Dictionary"), dictionary, dictionary),
        storedAs(QStringLiteral("Data"), data, data),
        storedAs(QStringLiteral("Date"), date, date),
        {QStringLiteral("URL"), [url](UserDefaults& d) { d.setURL(QStringLiteral("URL"), url); },
         [url](const UserDefaults& d) {
             const QUrl read = d.urlForKey(QStringLiteral("URL"));
             return read == url ? QString() : read.toString();
         }},
    };
    return samples;
}

} // namespace vornakel::test
