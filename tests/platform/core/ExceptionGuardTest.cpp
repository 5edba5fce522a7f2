#include "platform/core/ExceptionGuard.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace vornakel;
using SwiftBridgingHelpers::guardForObjCExceptions;

TEST(ExceptionGuard, APlatformExceptionBecomesAnInteropError)
{
    const QVariantMap info{{QStringLiteral("NSFileHandleOperationExceptionReason"), QStringLiteral("No space left")}};
    const std::pair<const char*, QVariantMap> cases[] = {{"with user info", info}, {"without user info", {}}};
    for (const auto& c : cases) {
        // A lambda cannot capture a structured binding under clang 14, so the case's fields get names here.
        const char* const name = c.first;
        const QVariantMap& userInfo = c.second;
        SCOPED_TRACE(name);
        std::optional<Error> error;
        const bool completed = guardForObjCExceptions(
            // Structured bindings cannot be captured by clang 14; an init-capture names the value instead.
            [&info = userInfo] {
                throw PlatformException(QStringLiteral("NSFileHandleOperationException"), QStringLiteral("write failed"), info);
            },
            &error);
        EXPECT_FALSE(completed);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->domain, QStringLiteral("com.vornakel.swift-objc-interop"));
        EXPECT_EQ(error->code, 1);
        EXPECT_EQ(error->userInfo, userInfo);
    }
}

TEST(ExceptionGuard, WithoutAnOutPointerItOnlyAnswersFalse)
{
    bool reachedEnd = false;
    EXPECT_FALSE(guardForObjCExceptions(
        [&] {
            throw PlatformException(QStringLiteral("NSGenericException"), QStringLiteral("boom"));
            reachedEnd = true;
        },
        nullptr));
    EXPECT_FALSE(reachedEnd);
}

TEST(ExceptionGuard, ABlockThatFinishesAnswersTrueAndLeavesAnEarlierErrorAlone)
{
    std::optional<Error> error = Error(QStringLiteral("earlier"), 42);
    bool ran = false;
    EXPECT_TRUE(guardForObjCExceptions([&] { ran = true; }, &error));
    EXPECT_TRUE(ran);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(*error, Error(QStringLiteral("earlier"), 42));
}

TEST(ExceptionGuard, OtherExceptionsPassThrough)
{
    std::optional<Error> error;
    EXPECT_THROW(guardForObjCExceptions([] { throw std::runtime_error("not a platform exception"); }, &error),
                 std::runtime_error);
    EXPECT_FALSE(error.has_value());
}
