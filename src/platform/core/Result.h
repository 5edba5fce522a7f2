#pragma once

#include "platform/core/Error.h"

#include <optional>
#include <utility>
#include <variant>

namespace vornakel {

// What a call that may fail gives back: its value, or the error that stopped it. The type is [[nodiscard]], so a
// failure cannot be dropped by accident; a caller that means to ignore one says why, next to
// `std::ignore = call();`.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_outcome(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_outcome(std::in_place_index<1>, std::move(error)) {}

    bool hasValue() const { return m_outcome.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    // Only when hasValue().
    const T& value() const& { return std::get<0>(m_outcome); }
    T& value() & { return std::get<0>(m_outcome); }
    T&& value() && { return std::get<0>(std::move(m_outcome)); }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }
    T valueOr(T fallback) const& { return hasValue() ? value() : std::move(fallback); }

    // Only when !hasValue().
    const Error& error() const { return std::get<1>(m_outcome); }
    // The error if there is one, for completions that report an optional error.
    std::optional<Error> failure() const { return hasValue() ? std::nullopt : std::optional<Error>(error()); }

private:
    std::variant<T, Error> m_outcome;
};

// A call that gives nothing back but may fail.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool hasValue() const { return !m_error; }
    explicit operator bool() const { return hasValue(); }
    // Only when !hasValue().
    const Error& error() const { return *m_error; }
    const std::optional<Error>& failure() const { return m_error; }

private:
    std::optional<Error> m_error;
};

} // namespace vornakel
