#pragma once

#include "platform/core/DispatchQueue.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace vornakel {

// A value that arrives once. Copies share one state: any copy may fill it (the first fill wins, later ones
// are ignored), wait for it until a deadline, or have a block run on a queue once it is there.
template <typename T>
class Deferred {
public:
    Deferred() : m_state(std::make_shared<State>()) {}

    // Fills the value; answers false and changes nothing when it was already filled.
    bool fill(T value) const
    {
        std::vector<Waiter> waiters;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->value)
                return false;
            m_state->value.emplace(std::move(value));
            waiters.swap(m_state->waiters);
        }
        m_state->filled.notify_all();
        for (auto& waiter : waiters)
            post(waiter, *m_state);
        return true;
    }

    bool isFilled() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->value.has_value();
    }

    // The value if filled, without waiting.
    std::optional<T> peek() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->value;
    }

    // Blocks the calling thread until the value is there or the deadline passes (then answers none).
    // Never call it on the thread that must fill the value.
    std::optional<T> wait(std::chrono::steady_clock::time_point deadline) const
    {
        std::unique_lock lock(m_state->mutex);
        m_state->filled.wait_until(lock, deadline, [this] { return m_state->value.has_value(); });
        return m_state->value;
    }
    std::optional<T> waitFor(std::chrono::milliseconds timeout) const
    {
        return wait(std::chrono::steady_clock::now() + timeout);
    }
    // Waits with no deadline.
    T waitForever() const
    {
        std::unique_lock lock(m_state->mutex);
        m_state->filled.wait(lock, [this] { return m_state->value.has_value(); });
        return *m_state->value;
    }

    // Runs the block with the value on the queue once filled (posted, never in the caller's stack).
    void upon(QueuePtr queue, std::function<void(const T&)> block) const
    {
        Waiter waiter{std::move(queue), std::move(block)};
        {
            std::lock_guard lock(m_state->mutex);
            if (!m_state->value) {
                m_state->waiters.push_back(std::move(waiter));
                return;
            }
        }
        post(waiter, *m_state);
    }
    // As above, but dropped when `context` is gone by then (see DispatchQueue::async with a context).
    void upon(QueuePtr queue, DispatchQueue::Context context, std::function<void(const T&)> block) const
    {
        upon(std::move(queue), [context = std::move(context), block = std::move(block)](const T& value) {
            if (context)
                block(value);
        });
    }

private:
    struct Waiter {
        QueuePtr queue;
        std::function<void(const T&)> block;
    };
    struct State {
        std::mutex mutex;
        std::condition_variable filled;
        std::optional<T> value;
        std::vector<Waiter> waiters;
    };

    static void post(const Waiter& waiter, State& state)
    {
        std::optional<T> value;
        {
            std::lock_guard lock(state.mutex);
            value = state.value;
        }
        waiter.queue->async([block = waiter.block, value = std::move(value)] { block(*value); });
    }

    std::shared_ptr<State> m_state;
};

} // namespace vornakel
