#include "lightroom/PluginLineBuffer.h"
#include "lightroom/PluginMessages.h"

#include "support/TestSupport.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vornakel {
namespace {

using Error = LrPluginRequestError;

QJsonObject object(const char* json)
{
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

TEST(PluginLineBufferTest, CutsLinesAcrossWritesAndKeepsOrder)
{
    PluginLineBuffer buffer;
    EXPECT_TRUE(buffer.append("{\"context\":").isEmpty());
    EXPECT_TRUE(buffer.append("1,\"result\"").isEmpty());
    EXPECT_EQ(buffer.append(":\"success\"}\n{\"con"), QList<QByteArray>{"{\"context\":1,\"result\":\"success\"}\n"});
    EXPECT_EQ(buffer.append("text\":2}\n\n{\"context\":3}\n"),
              (QList<QByteArray>{"{\"context\":2}\n", "\n", "{\"context\":3}\n"}));
    EXPECT_EQ(buffer.pendingSize(), 0);
}

TEST(PluginLineBufferTest, OverlongLineOverflowsUntilCleared)
{
    PluginLineBuffer buffer(8);
    EXPECT_EQ(buffer.append("1234567\n"), QList<QByteArray>{"1234567\n"});
    EXPECT_TRUE(buffer.append("123456789").isEmpty());
    EXPECT_TRUE(buffer.overflowed());
    EXPECT_TRUE(buffer.append("\nok\n").isEmpty()) << "the rest of an overlong line is no line of its own";

    buffer.clear();
    EXPECT_FALSE(buffer.overflowed());
    EXPECT_EQ(buffer.append("ok\n"), QList<QByteArray>{"ok\n"});
    // A complete overlong line in one write is refused as well, but the lines before it still count.
    EXPECT_EQ(buffer.append("a\n0123456789\nb\n"), QList<QByteArray>{"a\n"});
    EXPECT_TRUE(buffer.overflowed());
}

TEST(PluginMessagesTest, RequestCarriesItsContextAndOneNewline)
{
    const std::optional<QByteArray> line = PluginMessages::encodeRequest(
        {{QStringLiteral("message"), QStringLiteral("operationStarted")},
         {QStringLiteral("fileCount"), 3},
         {QStringLiteral("context"), QStringLiteral("caller's own")}},
        7);
    ASSERT_TRUE(line);
    EXPECT_TRUE(line->endsWith('\n'));
    EXPECT_EQ(line->count('\n'), 1);
    EXPECT_EQ(QJsonDocument::fromJson(*line).object(),
              object(R"({"message":"operationStarted","fileCount":3,"context":7})"));

    EXPECT_FALSE(PluginMessages::encodeRequest({{QStringLiteral("fileCount"), std::nan("")}}, 1));
    EXPECT_FALSE(PluginMessages::encodeRequest({{QStringLiteral("when"), QDateTime::currentDateTime()}}, 1));
}

TEST(PluginMessagesTest, ReplyLineNeedsAnObjectWithAnIntegerContext)
{
    struct Case {
        const char* line;
        std::optional<qint64> context;
    };
    const Case cases[] = {
        {"{\"context\":4,\"path\":\"/a\"}\n", 4},
        {"{\"context\":4.0}\n", 4},
        {"{\"context\":-2}", -2},
        {"{\"context\":4.5}\n", std::nullopt},
        {"{\"context\":\"4\"}\n", std::nullopt},
        {"{\"path\":\"/a\"}\n", std::nullopt},
        {"[1,2]\n", std::nullopt},
        {"not json\n", std::nullopt},
        {"\n", std::nullopt},
        {"{\"context\":1e300}\n", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<PluginMessages::Reply> reply = PluginMessages::parseReplyLine(c.line);
        EXPECT_EQ(reply ? std::optional<qint64>(reply->context) : std::nullopt, c.context) << c.line;
    }
}

TEST(PluginMessagesTest, ReplyMappings)
{
    using PluginMessages::parseSuccessOrErrorResponse;
    using PluginMessages::parseSuccessResponse;
    const Error invalid{Error::invalidResponse, {}};
    const Error failed{Error::remoteOperationFailed, {}};
    struct Case {
        const char* reply;
        std::optional<Error> success;
        std::optional<Error> successOrError;
    };
    const Case cases[] = {
        {R"({"result":"success"})", std::nullopt, std::nullopt},
        {R"({"result":"Success"})", failed, failed},
        {R"({"result":"success "})", failed, failed},
        {R"({"result":"busy","error":"disk full"})", failed, failed},
        {R"({"error":"disk full"})", invalid, Error{Error::remoteOperationFailedWithMessage, QStringLiteral("disk full")}},
        {R"({"result":1,"error":"disk full"})", invalid, Error{Error::remoteOperationFailedWithMessage, QStringLiteral("disk full")}},
        {R"({"result":true})", invalid, invalid},
        {R"({})", invalid, invalid},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseSuccessResponse(object(c.reply)), c.success) << c.reply;
        EXPECT_EQ(parseSuccessOrErrorResponse(object(c.reply)), c.successOrError) << c.reply;
    }
}

TEST(PluginMessagesTest, CatalogPathsMustBeAbsolute)
{
    using PluginMessages::parseCatalogFoldersResponse;
    using PluginMessages::parseCatalogPathResponse;
    const auto path = [](const char* json) {
        auto result = parseCatalogPathResponse(object(json));
        return std::holds_alternative<QString>(result) ? std::get<QString>(result) : QStringLiteral("<invalid>");
    };
    EXPECT_EQ(path(R"({"path":"/home/ann/Catalog.lrcat"})"), QStringLiteral("/home/ann/Catalog.lrcat"));
    EXPECT_EQ(path(R"({"path":"/home/ann/../ann/./Catalog.lrcat"})"), QStringLiteral("/home/ann/Catalog.lrcat"));
    EXPECT_EQ(path(R"({"path":"Catalog.lrcat"})"), QStringLiteral("<invalid>"));
    EXPECT_EQ(path(R"({"path":"../etc/passwd"})"), QStringLiteral("<invalid>"));
    EXPECT_EQ(path(R"({"path":""})"), QStringLiteral("<invalid>"));
    EXPECT_EQ(path(R"({"path":7})"), QStringLiteral("<invalid>"));
    EXPECT_EQ(path(R"({})"), QStringLiteral("<invalid>"));

    const auto folders = [](const char* json) {
        auto result = parseCatalogFoldersResponse(object(json));
        return std::holds_alternative<QStringList>(result) ? std::get<QStringList>(result)
                                                           : QStringList{QStringLiteral("<invalid>")};
    };
    EXPECT_EQ(folders(R"({"paths":[]})"), QStringList());
    EXPECT_EQ(folders(R"({"paths":["/a","/b/c"]})"), (QStringList{QStringLiteral("/a"), QStringLiteral("/b/c")}));
    EXPECT_EQ(folders(R"({"paths":["/a","b"]})"), QStringList{QStringLiteral("<invalid>")});
    EXPECT_EQ(folders(R"({"paths":["/a",3]})"), QStringList{QStringLiteral("<invalid>")});
    EXPECT_EQ(folders(R"({"paths":"/a"})"), QStringList{QStringLiteral("<invalid>")});
}

TEST(LrPluginStateTest, RawValuesAndDescriptions)
{
    EXPECT_EQ(lrPluginStateFromRaw(0), LrPluginState::notConnected);
    EXPECT_EQ(lrPluginStateFromRaw(2), LrPluginState::connected);
    EXPECT_FALSE(lrPluginStateFromRaw(3));
    EXPECT_FALSE(lrPluginStateFromRaw(-1));
    EXPECT_EQ(describe(LrPluginState::connecting), QStringLiteral("Connecting"));
    EXPECT_EQ(describe(LrPluginState::notConnected), QStringLiteral("Not Connected"));
}

} // namespace
} // namespace vornakel
