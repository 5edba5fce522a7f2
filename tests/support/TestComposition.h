#pragma once

#include "platform/services/HelpBook.h"
#include "platform/services/SoftwareUpdater.h"
#include "support/FakeRunningApplications.h"
#include "support/RecordingWorkspace.h"

namespace vornakel::test {

// A test's own composition point for the platform services that objects reach through shared(): doubles that
// open, launch and quit nothing, installed while it lives and taken back when it goes, as the application's
// composition installs the real ones. Objects built outside one that ask for a service end the test program.
class TestComposition {
public:
    TestComposition()
    {
        Workspace::setShared(&workspace);
        RunningApplications::setShared(&applications);
        HelpBook::setShared(&helpBook);
        SoftwareUpdater::setShared(&updater);
    }
    ~TestComposition()
    {
        SoftwareUpdater::setShared(nullptr);
        HelpBook::setShared(nullptr);
        RunningApplications::setShared(nullptr);
        Workspace::setShared(nullptr);
    }
    TestComposition(const TestComposition&) = delete;
    TestComposition& operator=(const TestComposition&) = delete;

    RecordingWorkspace workspace;
    FakeRunningApplications applications;
    // The application's pages, copied into the test's own cache folder.
    HelpBook helpBook;
    SoftwareUpdater updater;
};

} // namespace vornakel::test
