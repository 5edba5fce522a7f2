#pragma once

#include <atomic>

namespace vornakel {

// Counts the grid's and the preview's blocks on worker threads (decoding, reading shooting data), so that
// tests and tools can let them finish before the process ends.
class BackgroundWork {
public:
    // Held by a block from the moment it is posted until it has posted its answer.
    class Token {
    public:
        Token() { ++counter(); }
        Token(const Token&) { ++counter(); }
        Token& operator=(const Token&) = default;
        ~Token() { --counter(); }
    };
    static int running() { return counter(); }

private:
    static std::atomic<int>& counter()
    {
        static std::atomic<int> count{0};
        return count;
    }
};

} // namespace vornakel
