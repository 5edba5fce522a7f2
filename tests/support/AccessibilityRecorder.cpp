#include "support/AccessibilityRecorder.h"

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <algorithm>
#include <utility>

namespace vornakel::test {
namespace {

// Qt hands events on only while the platform's accessibility is active; a platform's bridge switches it on when a
// screen reader listens. Qt's own tests switch it the same way.
QPlatformAccessibility* platformAccessibility()
{
    QPlatformIntegration* integration = QGuiApplicationPrivate::platformIntegration();
    return integration ? integration->accessibility() : nullptr;
}

} // namespace

AccessibilityRecorder::AccessibilityRecorder()
{
    Q_ASSERT(!s_current);
    s_current = this;
    m_previousHandler = QAccessible::installUpdateHandler(&AccessibilityRecorder::record);
    m_wasActive = QAccessible::isActive();
    if (QPlatformAccessibility* accessibility = platformAccessibility())
        accessibility->setActive(true);
}

AccessibilityRecorder::~AccessibilityRecorder()
{
    if (QPlatformAccessibility* accessibility = platformAccessibility())
        accessibility->setActive(m_wasActive);
    QAccessible::installUpdateHandler(m_previousHandler);
    s_current = nullptr;
}

std::vector<AccessibilityRecorder::Event> AccessibilityRecorder::take() { return std::exchange(m_events, {}); }

bool AccessibilityRecorder::heard(QAccessible::Event type, const QString& name)
{
    const std::vector<Event> events = take();
    return std::any_of(events.begin(), events.end(), [&](const Event& event) {
        return event.type == type && (name.isEmpty() || event.name == name);
    });
}

void AccessibilityRecorder::record(QAccessibleEvent* event)
{
    if (!s_current)
        return;
    Event recorded{event->type(), {}, {}, {}, -1};
    if (QAccessibleInterface* about = event->accessibleInterface())
        recorded.name = about->text(QAccessible::Name);
    // The event's class, not its type, says what it carries: a widget may send a bare event of a text type.
    if (const auto* update = dynamic_cast<const QAccessibleTextUpdateEvent*>(event)) {
        recorded.textInserted = update->textInserted();
        recorded.textRemoved = update->textRemoved();
        recorded.position = update->changePosition();
    } else if (const auto* insert = dynamic_cast<const QAccessibleTextInsertEvent*>(event)) {
        recorded.textInserted = insert->textInserted();
        recorded.position = insert->changePosition();
    } else if (const auto* remove = dynamic_cast<const QAccessibleTextRemoveEvent*>(event)) {
        recorded.textRemoved = remove->textRemoved();
        recorded.position = remove->changePosition();
    } else if (const auto* cursor = dynamic_cast<const QAccessibleTextCursorEvent*>(event)) {
        recorded.position = cursor->cursorPosition();
    }
    s_current->m_events.push_back(std::move(recorded));
}

} // namespace vornakel::test
