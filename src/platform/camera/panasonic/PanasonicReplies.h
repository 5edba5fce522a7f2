#pragma once

// What a LUMIX camera answers on its control page (cam.cgi), read as hostile input: bounded in size, XML read
// without a document type (so no entity of the camera's can expand), depth and counts capped.
//
// The access request (mode=accctrl&type=req_acc) is answered in plain text, comma-separated:
//   "ok,<camera name>,remote[,…,<session>]"  granted (newer bodies add a session to send with every request)
//   "ok_under_research[_no_msg],…"            the camera is asking its user (or deciding): ask again
//   "err_reject" / "err_user_refused"         refused
//   "err_busy" / "err_others_requesting"      another device holds or asks for the camera
//   "err_non_support"                         a body without access control: go ahead
// Some bodies wrap the same words in the XML reply that every other command gets:
//   <camrply><result>ok</result><state><batt>4/5</batt><cammode>play</cammode>…</state></camrply>

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

namespace vornakel::panasonic {

// The control page's port on the camera.
constexpr quint16 kCamCgiPort = 80;
// No reply of the control page we read is near this long; a longer one is not read to its end.
constexpr qsizetype kMaxReplyBytes = 64 * 1024;

enum class AccessAnswer { granted, pending, refused, busy, other };

struct AccessReply {
    AccessAnswer answer = AccessAnswer::other;
    QString result;     // the camera's own word ("err_reject"), for diagnostics
    QString cameraName; // the second field of a plain-text reply, when there is one
    QString session;    // the session a granted reply hands out, when there is one
};

AccessReply parseAccessReply(const QByteArray& body);

struct CamReply {
    QString result;                   // "ok", "err_busy", …
    std::map<QString, QString> state; // the text of each child of <state>
};

// None for a body that is not a well-formed <camrply> document within the bounds, or that has a document type.
std::optional<CamReply> parseCamReply(const QByteArray& body);

// The battery as the five levels (0 full … 4 empty) from a state reply: the percentage where the camera gives
// one, else its bars ("3/5"); none when it reports neither (a grip without a battery says "-1/5").
std::optional<int> batteryLevelFromState(const std::map<QString, QString>& state);

} // namespace vornakel::panasonic
