#pragma once

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace vornakel::test {

// Runs the event loop until the condition holds or the deadline passes; answers whether it held. Objects
// handed to deleteLater are deleted on the way, as a return to the event loop would. The deadline only keeps a
// broken test from hanging: it returns as soon as the condition holds, and a machine busy with a parallel build
// and the other test programs can take many times longer than a quiet one, so it is generous.
bool runUntil(const std::function<bool()>& condition,
              std::chrono::milliseconds timeout = std::chrono::milliseconds(30000));
// Runs the event loop for a while (to show that something does *not* happen).
void runFor(std::chrono::milliseconds duration);

// The folder of checked-in test data (tests/data).
QString testDataPath(const QString& relative = {});

} // namespace vornakel::test

#include <QByteArray>
#include <QStringList>
#include <QVariant>

#include <ostream>

// Readable GoogleTest failure messages for Qt values.
inline void PrintTo(const QString& value, std::ostream* os) { *os << '"' << value.toStdString() << '"'; }
inline void PrintTo(const QStringList& value, std::ostream* os) { *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']'; }
inline void PrintTo(const QByteArray& value, std::ostream* os) { *os << "QByteArray(" << value.size() << " bytes)"; }
inline void PrintTo(const QVariant& value, std::ostream* os) { *os << "QVariant(" << value.typeName() << ": " << value.toString().toStdString() << ')'; }
