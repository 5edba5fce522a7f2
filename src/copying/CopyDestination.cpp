#include "copying/CopyDestination.h"

#include "platform/core/UserDefaults.h"

namespace vornakel {

CopyDestination::~CopyDestination() = default;

FileGroupBehaviour storedFileGroupBehaviour(const UserDefaults& defaults, const QString& key,
                                            FileGroupBehaviour fallback)
{
    if (auto raw = defaults.optionalIntegerForKey(key)) {
        if (auto stored = fileGroupBehaviourFromRawValue(*raw))
            return *stored;
    }
    return fallback;
}

} // namespace vornakel
