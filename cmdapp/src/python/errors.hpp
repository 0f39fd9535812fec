#pragma once
// Turning C++ failures into Python exceptions. Every entry point from the
// interpreter runs inside `guard`, so no C++ exception reaches it.
#include <Python.h>

#include <string>
#include <string_view>

namespace pixmorf::python {

// Thrown after a Python exception has been set, to unwind to the guard.
struct PythonErrorSet {};

[[noreturn]] inline void throw_python_error() { throw PythonErrorSet{}; }

// Raises the internal-failure exception with `message` (a generic text when
// empty), after writing a diagnostic with the message and `where` to stderr.
void raise_internal_failure(std::string_view message, std::string_view where);

// Raises Exception with `message`.
void raise_exception(std::string_view message);

// If the pending error is a TypeError, replaces it by a TypeError whose
// message is "argument '<parameter>': " and the old message, with the old
// error as its cause. Other errors stay as they are.
void prefix_type_error(const char* parameter);

// `text` in double quotes, with quotes, backslashes and control characters
// escaped.
std::string quote_error_text(std::string_view text);

// Sets the Python exception for the C++ exception being handled.
void set_error_from_current_exception() noexcept;

template <class Body>
PyObject* guard(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

}  // namespace pixmorf::python
