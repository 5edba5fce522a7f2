#pragma once

#include <QAccessible>
#include <QString>

#include <vector>

namespace vornakel::test {

// What a screen reader would be told, without one: while it lives, Qt's accessibility counts as active (as it does
// when a screen reader is on the desktop's accessibility bus) and every event the widgets send is recorded here
// instead of going to the platform's bridge. So the events can be checked on any platform, offscreen included.
// One at a time, on the main thread.
class AccessibilityRecorder {
public:
    struct Event {
        QAccessible::Event type;
        // The name of the item the event is about (a photo's file name, a token's title); empty for none.
        QString name;
        // For text events: the text inserted, and where the change or the caret is.
        QString textInserted;
        QString textRemoved;
        int position = -1;
    };

    AccessibilityRecorder();
    ~AccessibilityRecorder();
    AccessibilityRecorder(const AccessibilityRecorder&) = delete;
    AccessibilityRecorder& operator=(const AccessibilityRecorder&) = delete;

    // The events since the last call, oldest first.
    std::vector<Event> take();
    // Whether an event of the type came since the last call, about the item of that name (or any).
    bool heard(QAccessible::Event type, const QString& name = {});

private:
    static void record(QAccessibleEvent* event);

    static inline AccessibilityRecorder* s_current = nullptr;
    QAccessible::UpdateHandler m_previousHandler = nullptr;
    bool m_wasActive = false;
    std::vector<Event> m_events;
};

} // namespace vornakel::test
