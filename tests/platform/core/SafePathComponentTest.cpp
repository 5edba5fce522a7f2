#include "platform/core/SafePathComponent.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornakel {
namespace {

TEST(SafePathComponent, OrdinaryNamesPassAndUnsafeOnesGetStableSubstitutes)
{
    const struct {
        QString text;
        QString expected;
    } cases[] = {
        {QStringLiteral("IMG_0001.JPG"), QStringLiteral("IMG_0001.JPG")},
        {QStringLiteral(".hidden"), QStringLiteral(".hidden")},
        {QString(), QStringLiteral("_")},
        {QStringLiteral("."), QStringLiteral("_")},
        {QStringLiteral(".."), QStringLiteral("_")},
        {QStringLiteral("../../etc/passwd"), QStringLiteral("..\u2215..\u2215etc\u2215passwd")},
        {QString::fromUtf8("nul\0byte", 8), QStringLiteral("nul_byte")},
        {QStringLiteral("line\nbreak\x7f"), QStringLiteral("line_break_")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(safePathComponent(c.text), c.expected) << c.text.toStdString();
}

TEST(SafePathComponent, TooLongNamesAreShortenedKeepingTheExtensionAndCanBeCreated)
{
    // Each "é" is two bytes of UTF-8: an odd limit would split one if the cut were made by bytes.
    const QString stem(300, QChar(0x00e9));
    const struct {
        QString text;
        QString extension;
    } cases[] = {
        {stem + QStringLiteral(".JPG"), QStringLiteral(".JPG")},
        {QString(400, QLatin1Char('a')), QString()},
        {QStringLiteral("x.") + QString(300, QLatin1Char('b')), QString()}, // too long to be a type
        {QStringLiteral("\U0001F4F7").repeated(200) + QStringLiteral(".CR3"), QStringLiteral(".CR3")}, // surrogate pairs
    };
    QTemporaryDir folder;
    for (const auto& c : cases) {
        const QString safe = safePathComponent(c.text);
        SCOPED_TRACE(safe.toStdString());
        EXPECT_LE(safe.toUtf8().size(), kMaximumPathComponentBytes);
        EXPECT_GT(safe.toUtf8().size(), kMaximumPathComponentBytes - 4);
        EXPECT_TRUE(safe.endsWith(c.extension));
        EXPECT_FALSE(safe.back().isHighSurrogate());
        EXPECT_EQ(safePathComponent(safe), safe) << "a safe name stays as it is";
        QFile file(QDir(folder.path()).filePath(safe));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << "the file system takes the shortened name";
    }
    EXPECT_EQ(safePathComponent(stem, 11).toUtf8().size(), 10);
}

} // namespace
} // namespace vornakel
