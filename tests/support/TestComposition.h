#pragma once

#include "platform/services/HelpBook.h"
#include "support/RecordingWorkspace.h"

namespace vornakel::test {

// A test's own composition point for the one platform service that objects reach through shared(), the help book
// behind every help button: a book over a workspace that records instead of opening, installed while it lives and
// taken back when it goes, as the application's composition installs the real one. Everything else comes in
// through constructors; objects built outside a composition that ask for the book end the test program.
class TestComposition {
public:
    TestComposition() { HelpBook::setShared(&helpBook); }
    ~TestComposition() { HelpBook::setShared(nullptr); }
    TestComposition(const TestComposition&) = delete;
    TestComposition& operator=(const TestComposition&) = delete;

    RecordingWorkspace workspace;
    // The application's pages, copied into the test's own cache folder.
    HelpBook helpBook{workspace};
};

} // namespace vornakel::test
