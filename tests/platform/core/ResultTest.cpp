#include "platform/core/Result.h"

#include <gtest/gtest.h>

#include <memory>

using namespace vornakel;

namespace {

Result<int> parsed(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok)
        return Error(QStringLiteral("test"), 1, QStringLiteral("not a number: %1").arg(text));
    return value;
}

Result<void> checked(bool fine)
{
    if (!fine)
        return Error(QStringLiteral("test"), 2);
    return {};
}

} // namespace

TEST(Result, CarriesEitherTheValueOrTheError)
{
    struct Case {
        QString text;
        bool ok;
        int value;
    };
    for (const Case& c : {Case{QStringLiteral("42"), true, 42}, Case{QStringLiteral("x"), false, 0}}) {
        SCOPED_TRACE(c.text.toStdString());
        const Result<int> result = parsed(c.text);
        EXPECT_EQ(bool(result), c.ok);
        EXPECT_EQ(result.valueOr(-1), c.ok ? c.value : -1);
        EXPECT_EQ(result.failure().has_value(), !c.ok);
        if (c.ok)
            EXPECT_EQ(*result, c.value);
        else
            EXPECT_EQ(result.error(), Error(QStringLiteral("test"), 1));
    }
    for (const bool fine : {true, false}) {
        const Result<void> result = checked(fine);
        EXPECT_EQ(result.hasValue(), fine);
        EXPECT_EQ(result.failure().has_value(), !fine);
    }
}

TEST(Result, MovesAValueThatCannotBeCopied)
{
    Result<std::unique_ptr<int>> result = std::make_unique<int>(7);
    ASSERT_TRUE(result);
    const std::unique_ptr<int> taken = std::move(result).value();
    EXPECT_EQ(*taken, 7);
}
