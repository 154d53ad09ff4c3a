#pragma once

#include <QString>

#include <utility>
#include <variant>

// How a piece of long work ended. Cancellation is its own end, never a failure.
enum class Outcome { Succeeded, Failed, Cancelled };

// What kind of failure happened, for code that decides on retries or icons.
// The text the user sees is always AppError::message.
enum class ErrorKind {
    None,
    InvalidInput,
    Network,    // transient: time-out, lost connection, host not found
    HttpStatus, // the server answered with an error status
    Decoding,   // an answer that could not be understood
    FileSystem, // a local file or folder could not be read or written
    Process,    // an outside program failed
    Internal,
};

// An error value carrying one complete, ready-to-show Russian message.
struct AppError {
    QString message;
    ErrorKind kind = ErrorKind::Internal;

    AppError() = default;
    explicit AppError(QString text, ErrorKind errorKind = ErrorKind::Internal)
        : message(std::move(text)), kind(errorKind)
    {
    }

    // Mirrors the platform convention that an error describes itself by its message.
    const QString &description() const { return message; }
};

// A value or an AppError; the core's way to return from something that can fail.
template <typename T> class Result {
public:
    Result(T value) : m_data(std::move(value)) {}
    Result(AppError error) : m_data(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_data); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return std::get<T>(m_data); }
    T &value() & { return std::get<T>(m_data); }
    T &&value() && { return std::get<T>(std::move(m_data)); }
    const AppError &error() const { return std::get<AppError>(m_data); }

private:
    std::variant<T, AppError> m_data;
};

// For operations that produce nothing but can fail.
struct Done {};
using Status = Result<Done>;
