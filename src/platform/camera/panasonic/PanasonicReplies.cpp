#include "platform/camera/panasonic/PanasonicReplies.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace vornakel::panasonic {

namespace {

constexpr int kMaxDepth = 8;
constexpr int kMaxStateEntries = 256;
constexpr qsizetype kMaxText = 1024;
// A plain-text access reply is one short line.
constexpr qsizetype kMaxAccessLine = 1024;

AccessAnswer answerOf(const QString& word)
{
    if (word == QLatin1String("ok") || word == QLatin1String("err_non_support"))
        return AccessAnswer::granted;
    if (word == QLatin1String("ok_under_research") || word == QLatin1String("ok_under_research_no_msg"))
        return AccessAnswer::pending;
    if (word == QLatin1String("err_reject") || word == QLatin1String("err_user_refused")
        || word == QLatin1String("err_refused"))
        return AccessAnswer::refused;
    if (word == QLatin1String("err_busy") || word == QLatin1String("err_others_requesting"))
        return AccessAnswer::busy;
    return AccessAnswer::other;
}

bool isPrintable(const QString& text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

AccessReply parseAccessReply(const QByteArray& body)
{
    AccessReply reply;
    if (body.size() > kMaxReplyBytes)
        return reply;
    const QByteArray trimmed = body.trimmed();
    if (trimmed.startsWith('<')) {
        if (const auto xml = parseCamReply(trimmed)) {
            reply.result = xml->result;
            reply.answer = answerOf(reply.result);
        }
        return reply;
    }
    if (trimmed.size() > kMaxAccessLine || trimmed.contains('\n'))
        return reply;
    const QStringList fields = QString::fromUtf8(trimmed).split(QLatin1Char(','));
    if (!isPrintable(fields.join(QString())))
        return reply;
    reply.result = fields.value(0).trimmed();
    reply.answer = answerOf(reply.result);
    reply.cameraName = fields.value(1).trimmed();
    if (reply.answer == AccessAnswer::granted && fields.size() >= 5) {
        const QString session = fields.value(4).trimmed();
        // Sent back in a header: only a plain token will do.
        const bool plain = !session.isEmpty() && session.size() <= 128
            && std::all_of(session.begin(), session.end(), [](QChar c) { return c.isLetterOrNumber() && c.unicode() < 128; });
        if (plain)
            reply.session = session;
    }
    return reply;
}

std::optional<CamReply> parseCamReply(const QByteArray& body)
{
    if (body.size() > kMaxReplyBytes)
        return std::nullopt;
    QXmlStreamReader reader(body);
    CamReply reply;
    int depth = 0;
    bool sawRoot = false;
    bool inState = false;
    QString text;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            // A document type is where entities are declared; the camera's replies never carry one.
            return std::nullopt;
        case QXmlStreamReader::StartElement:
            if (++depth > kMaxDepth)
                return std::nullopt;
            if (depth == 1) {
                if (reader.name() != QLatin1String("camrply"))
                    return std::nullopt;
                sawRoot = true;
            }
            if (depth == 2 && reader.name() == QLatin1String("state"))
                inState = true;
            text.clear();
            break;
        case QXmlStreamReader::Characters:
            text += reader.text();
            if (text.size() > kMaxText)
                return std::nullopt;
            break;
        case QXmlStreamReader::EndElement: {
            const QString trimmed = text.trimmed();
            if (depth == 2 && reader.name() == QLatin1String("result"))
                reply.result = trimmed;
            else if (depth == 2 && reader.name() == QLatin1String("state"))
                inState = false;
            else if (depth == 3 && inState) {
                if (reply.state.size() >= size_t(kMaxStateEntries))
                    return std::nullopt;
                reply.state[reader.name().toString()] = trimmed;
            }
            text.clear();
            --depth;
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError() || !sawRoot)
        return std::nullopt;
    return reply;
}

std::optional<int> batteryLevelFromState(const std::map<QString, QString>& state)
{
    const auto value = [&](const char* key) -> QString {
        const auto found = state.find(QLatin1String(key));
        return found == state.end() ? QString() : found->second;
    };
    bool ok = false;
    const int percent = value("batt_per").toInt(&ok);
    if (ok && percent >= 0 && percent <= 100)
        return std::clamp((100 - percent + 12) / 25, 0, 4);
    const QString bars = value("batt");
    const int slash = bars.indexOf(QLatin1Char('/'));
    if (slash <= 0)
        return std::nullopt;
    bool okHave = false;
    bool okOf = false;
    const int have = bars.left(slash).toInt(&okHave);
    const int of = bars.mid(slash + 1).toInt(&okOf);
    if (!okHave || !okOf || of <= 0 || of > 100 || have < 0 || have > of)
        return std::nullopt;
    if (of == 5)
        return std::clamp(5 - have, 0, 4); // one level per bar, the last bar and none both "empty"
    return std::clamp((100 - have * 100 / of + 12) / 25, 0, 4);
}

} // namespace vornakel::panasonic
