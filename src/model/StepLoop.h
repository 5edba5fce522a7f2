#pragma once

namespace vornakel {

// Runs a chain of steps whose next step may be started from inside the current one (a camera that answers
// inside the request) as a loop instead of a recursion, so the stack does not grow with the number of steps:
// a `run` from inside a step only marks that another step is due, and the outermost `run` takes it.
class StepLoop {
public:
    template <typename Step>
    void run(Step&& step)
    {
        if (m_running) {
            m_again = true;
            return;
        }
        m_running = true;
        do {
            m_again = false;
            step();
        } while (m_again);
        m_running = false;
    }

private:
    bool m_running = false;
    bool m_again = false;
};

} // namespace vornakel
