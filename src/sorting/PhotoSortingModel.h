#pragma once

#include "platform/core/Error.h"
#include "platform/core/PropertyList.h"
#include "sorting/UserDefinedPhotoSorting.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>

#include <functional>
#include <optional>
#include <vector>

namespace vornakel {

class UserDefaults;

// The one store of sorting presets: the two built-in presets and the user's own, which live in the user
// defaults under "UserDefinedPresets" as a keyed archive of the preset array. Memory is the master copy once
// loaded; each commit writes the whole list. Main thread only.
class PhotoSortingModel : public QObject {
    Q_OBJECT
public:
    using PresetPtr = UserDefinedPhotoSortingPtr;
    using Clock = std::function<QDateTime()>;

    // A store over the given defaults, loaded at once. The clock stamps the key under which unreadable stored
    // data is kept aside (the system clock when empty).
    explicit PhotoSortingModel(UserDefaults& defaults, Clock clock = {}, QObject* parent = nullptr);

    static QString userDefinedPresetsUserDefaultsKey(); // "UserDefinedPresets"
    // Unreadable stored data is kept under this key followed by a UTC timestamp ("yyyyMMddTHHmmsszzzZ").
    static QString unreadablePresetsKeyPrefix();        // "UserDefinedPresets.unreadable-"

    // [byPaddedNumericDate, flat].
    const std::vector<PresetPtr>& builtIn() const { return m_builtIn; }
    // The user's presets in creation order.
    const std::vector<PresetPtr>& userDefined() const { return m_userDefined; }
    // Every change of the list (load, create, remove) goes through here and emits `userDefinedChanged`.
    void setUserDefined(std::vector<PresetPtr> presets);

    // The first preset, built-in ones first, whose identifier equals `identifier` exactly; none otherwise.
    PresetPtr preset(const QString& identifier) const;

    // Appends a duplicate of `source` (built-in or user) to the user presets, commits, and answers it.
    PresetPtr createUserPreset(const UserDefinedPhotoSorting& source);
    // Removes the very preset from the user presets and commits; a preset not in the list changes nothing.
    void removeUserPreset(const PresetPtr& preset);

    // Writes the user presets (always, an empty list too); with `force` the defaults are also flushed to disk.
    // Called after edits, and with force when the application quits.
    [[nodiscard]] std::optional<Error> commitUserDefinedPresets(bool force);
    // Stores the user's presets after an edit; a failure is logged and the next save tries again.
    void saveUserDefinedPresets();
    // The application's quit hook: a forced commit.
    void applicationWillTerminate();

    // The stored form of a preset list, and back. Decoding fails on data that is not an archive, names classes
    // of another build, or is not an array of presets.
    [[nodiscard]] static Result<QByteArray> encodePresets(const std::vector<PresetPtr>& presets);
    [[nodiscard]] static Result<std::vector<PresetPtr>> decodePresets(const QByteArray& data);

signals:
    void userDefinedChanged();

private:
    void load();

    UserDefaults& m_defaults;
    Clock m_clock;
    std::vector<PresetPtr> m_builtIn;
    std::vector<PresetPtr> m_userDefined;
};

} // namespace vornakel
