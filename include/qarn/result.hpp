// qarn::Error and qarn::Result<T>: how the C++ interface reports a failure, as an exception or
// as a value for callers that do not use exceptions.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "qarn_layouts.h"

namespace qarn {

// What went wrong. Only Failure::result carries a command's result code.
enum class Failure {
    none,     // no error: what Result::error() gives for a value
    result,   // the command ended with a result other than its success: result() says which
    refused,  // the command was not started: code not admitted, another command open, or the
              // library refused to build its frame (result() is 9 then)
    open,     // the notification window or the device object could not be made
    port,     // the serial line could not be opened
    argument, // a value the command cannot carry; nothing was sent
    data,     // the command's data does not have the size of the layout asked for
    thread,   // called from a thread other than the one that opened the device
};

class Error : public std::runtime_error {
  public:
    Error(Failure failure, int result, const std::string& message)
        : std::runtime_error(message), failure_(failure), result_(result) {}

    Failure failure() const { return failure_; }
    // The result code (GetCmdResult) for Failure::result and Failure::refused; -1 otherwise.
    int result() const { return result_; }
    // The result's name for a result code, else the failure's name.
    const char* name() const {
        if (result_ >= 0) return qarn_result_text(result_);
        switch (failure_) {
        case Failure::none:
            return "no error";
        case Failure::result:
            return "result";
        case Failure::refused:
            return "refused";
        case Failure::open:
            return "not opened";
        case Failure::port:
            return "port not opened";
        case Failure::argument:
            return "bad argument";
        case Failure::data:
            return "wrong data size";
        case Failure::thread:
            return "wrong thread";
        }
        return "error";
    }

  private:
    Failure failure_;
    int result_;
};

namespace detail {

[[noreturn]] inline void Raise(const Error& error) {
#if defined(__cpp_exceptions) || defined(__EXCEPTIONS)
    throw error;
#else
    std::fprintf(stderr, "qarn: %s\n", error.what());
    std::abort();
#endif
}

inline const Error& NoError() {
    static const Error none(Failure::none, -1, "no error");
    return none;
}

} // namespace detail

// A value or the Error that prevented it. value(), * and -> throw the Error when there is no
// value (or abort, in a build without exceptions): code that uses exceptions writes
// `device.status(2)->year`, code that does not tests `if (auto s = device.status(2))` first.
template <class T> class Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_ ? *error_ : detail::NoError(); }

    T& value() & { return Check(), *value_; }
    const T& value() const& { return Check(), *value_; }
    // By value, so that `for (auto& x : device.records(2).value())` holds no dangling reference.
    T value() && { return Check(), std::move(*value_); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

  private:
    void Check() const {
        if (!value_) detail::Raise(*error_);
    }

    std::optional<T> value_;
    std::optional<Error> error_;
};

template <> class Result<void> {
  public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_ ? *error_ : detail::NoError(); }
    void value() const {
        if (error_) detail::Raise(*error_);
    }

  private:
    std::optional<Error> error_;
};

} // namespace qarn
