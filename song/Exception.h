// The one error class of the program. Every error, from the compiler, the sequence model or a
// device, travels as an Exception carrying only its message text (UTF-8); whoever shows it to the
// user decides what to add (the compiler adds the line text, nothing else does).
#pragma once

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The error of every list of the program when asked for an item it does not hold.
[[noreturn]] inline void RaiseIndexError(long long index)
{
    throw Exception("リストのインデックスが範囲を超えています (" + std::to_string(index) + ")");
}
