#include "platform/core/Strings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace vornakel;

TEST(Strings, LooksUpTextsAndFallsBackToTheKey)
{
    EXPECT_EQ(GeneralUI::text(QStringLiteral("AppName")), QStringLiteral("Vornakel Transfer"));
    EXPECT_EQ(GeneralUI::text(QStringLiteral("NoSuchKeyAnywhere")), QStringLiteral("NoSuchKeyAnywhere"));
    EXPECT_EQ(GeneralUI::format(QStringLiteral("ISOMetadataFormatter"), {QStringLiteral("400")}), QStringLiteral("ISO 400"));
    EXPECT_EQ(GeneralUI::format(QStringLiteral("FocalLengthFormatter"), {QStringLiteral("35")}), QStringLiteral("35 mm"));
}

TEST(Strings, SubstitutesArgumentsInOrderWithoutReadingThem)
{
    const std::tuple<QString, QStringList, QString> cases[] = {
        {QStringLiteral("%@ of %@"), {QStringLiteral("3"), QStringLiteral("10")}, QStringLiteral("3 of 10")},
        {QStringLiteral("%@ then %@"), {QStringLiteral("%@"), QStringLiteral("x")}, QStringLiteral("%@ then x")},
        {QStringLiteral("100% sure: %@"), {QStringLiteral("yes")}, QStringLiteral("100% sure: yes")},
        {QStringLiteral("%@ and %@"), {QStringLiteral("only")}, QStringLiteral("only and ")},
        {QStringLiteral("no placeholders"), {QStringLiteral("unused")}, QStringLiteral("no placeholders")},
        {QStringLiteral("ends with %"), {}, QStringLiteral("ends with %")},
    };
    for (const auto& [pattern, arguments, expected] : cases) {
        SCOPED_TRACE(pattern.toStdString());
        EXPECT_EQ(GeneralUI::substitute(pattern, arguments), expected);
    }
}

TEST(Strings, CountsOtherThanOneUseThePluralKey)
{
    // Missing keys come back as themselves, which shows the key that was looked up.
    const std::pair<qint64, QString> cases[] = {
        {1, QStringLiteral("NoSuchCountKey")},
        {0, QStringLiteral("NoSuchCountKey_Plural")},
        {2, QStringLiteral("NoSuchCountKey_Plural")},
        {-1, QStringLiteral("NoSuchCountKey_Plural")},
    };
    for (const auto& [count, expected] : cases) {
        SCOPED_TRACE(count);
        EXPECT_EQ(GeneralUI::counted(QStringLiteral("NoSuchCountKey"), count), expected);
    }
}
