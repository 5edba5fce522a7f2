#pragma once

#include <atomic>

namespace vornakel {

// The grid's and the preview's blocks on worker threads (decoding, reading shooting data) report to an observer, if
// one is installed: tests and benchmarks install one to let the blocks finish before the process ends and to see
// where decoding ran. The program installs none, so it keeps no count of its own.
class BackgroundWork {
public:
    class Observer {
    public:
        virtual ~Observer() = default;
        // A token was made (a block posted) or went (the block posted its answer, or was dropped).
        virtual void started() = 0;
        virtual void finished() = 0;
        // A block is about to decode an image, on the thread that runs it.
        virtual void decoding() = 0;
    };

    // Installed before the work to be observed is posted, and kept until that work is over.
    static void setObserver(Observer* observer) { slot().store(observer); }
    static void noteDecoding()
    {
        if (Observer* observer = slot().load())
            observer->decoding();
    }

    // Held by a block from the moment it is posted until it has posted its answer. A token reports to the observer
    // there was when it was made, so every start is matched by a finish.
    class Token {
    public:
        Token() : m_observer(slot().load()) { start(); }
        Token(const Token& other) : m_observer(other.m_observer) { start(); }
        Token& operator=(const Token&) = delete;
        ~Token()
        {
            if (m_observer)
                m_observer->finished();
        }

    private:
        void start()
        {
            if (m_observer)
                m_observer->started();
        }
        Observer* m_observer;
    };

private:
    static std::atomic<Observer*>& slot()
    {
        static std::atomic<Observer*> observer{nullptr};
        return observer;
    }
};

} // namespace vornakel
