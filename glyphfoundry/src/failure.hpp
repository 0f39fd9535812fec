#pragma once
// Internal stops: a broken invariant or an exhausted limit ends the whole
// conversion with a fixed message. The binding layer turns the exception into
// the Python internal-failure exception; nothing else may catch it.
#include <exception>
#include <string>

namespace glyph {

struct InternalFailure : std::exception {
    std::string message;
    std::string where;  // "file:line (function)" of the stop
    InternalFailure(std::string message_, std::string where_)
        : message(std::move(message_)), where(std::move(where_)) {}
    const char* what() const noexcept override { return message.c_str(); }
};

// A conversion that would need more memory than a set bound; the binding
// raises it as MemoryError with the message.
struct MemoryLimitExceeded : std::exception {
    std::string message;
    explicit MemoryLimitExceeded(std::string message_) : message(std::move(message_)) {}
    const char* what() const noexcept override { return message.c_str(); }
};

// The default arguments record the caller's place (builtins that both GCC and
// clang provide; clang 14 lacks std::source_location with libstdc++).
[[noreturn]] void stop(std::string message, const char* file = __builtin_FILE(),
                       int line = __builtin_LINE(), const char* function = __builtin_FUNCTION());

}  // namespace glyph
