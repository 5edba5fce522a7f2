#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace vornakel {

class SleepInhibitor;
class UserDefaults;
class Workspace;

// What the copy sheets need from the rest of the program.
struct CopySheetEnvironment {
    explicit CopySheetEnvironment(Workspace& workspace) : workspace(workspace) {}

    // Where the chosen destination is remembered; required.
    UserDefaults* defaults = nullptr;
    // Held while a copy runs so the computer does not go to sleep; none copies without holding sleep off.
    std::shared_ptr<SleepInhibitor> sleepInhibitor;
    // Opens the copied folder and reveals an existing file from the conflict sheet; outlives the sheets.
    std::reference_wrapper<Workspace> workspace;
    // The system beep for a request that cannot go on.
    std::function<void()> beep;
};

} // namespace vornakel
