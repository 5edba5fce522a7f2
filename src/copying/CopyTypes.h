#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace vornakel {

// Which files of a photo a copy takes. The numbers are what the user defaults store.
enum class FileGroupBehaviour : int { copyAll = 0, preferOriginal = 1, preferPreview = 2 };

// 0, 1 and 2 only; anything else is none.
inline std::optional<FileGroupBehaviour> fileGroupBehaviourFromRawValue(qint64 raw)
{
    if (raw < 0 || raw > 2)
        return std::nullopt;
    return FileGroupBehaviour(int(raw));
}

class UserDefaults;

// The grouping stored under `key` when it is 0, 1 or 2; `fallback` when it is missing or anything else.
FileGroupBehaviour storedFileGroupBehaviour(const UserDefaults& defaults, const QString& key,
                                            FileGroupBehaviour fallback);

// The answer to "a file of that name is already there".
enum class FileNameConflictResolution { skip, overwrite, useUniqueName, cancel };

} // namespace vornakel
