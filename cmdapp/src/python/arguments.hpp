#pragma once
// Binding the positional array and keyword names of a fast call to the
// parameters of a function, by the interpreter's usual rules and messages.
#include <Python.h>

#include <array>
#include <cstddef>

namespace pixmorf::python {

inline constexpr std::size_t PARAMETER_COUNT = 13;

// All parameters are positional-or-keyword; the first `required` have no default.
struct Signature {
    const char* function_name;
    std::array<const char*, PARAMETER_COUNT> parameters;
    std::size_t required;
};

// Borrowed references, one per parameter; nullptr where the argument was left out.
using BoundArguments = std::array<PyObject*, PARAMETER_COUNT>;

// Throws PythonErrorSet with a TypeError set when the call does not fit.
BoundArguments bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);

}  // namespace pixmorf::python
