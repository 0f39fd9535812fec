#include "arguments.hpp"

#include <string>
#include <vector>

#include "errors.hpp"

namespace pixmorf::python {

namespace {

[[noreturn]] void raise_type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw_python_error();
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'" as the interpreter lists them.
std::string quoted_name_list(const std::vector<const char*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) out += ",";
            out += i + 1 == names.size() ? " and " : " ";
        }
        out += "'";
        out += names[i];
        out += "'";
    }
    return out;
}

[[noreturn]] void raise_unexpected_keyword(const Signature& signature, PyObject* keyword) {
    // %S keeps keywords that are not valid UTF-8 (lone surrogates) as they are.
    PyObject* message = PyUnicode_FromFormat("%s() got an unexpected keyword argument '%S'",
                                             signature.function_name, keyword);
    if (message != nullptr) {
        PyErr_SetObject(PyExc_TypeError, message);
        Py_DECREF(message);
    }
    throw_python_error();
}

[[noreturn]] void raise_too_many_positional(const Signature& signature, Py_ssize_t given) {
    std::string message = std::string(signature.function_name) + "() takes ";
    if (signature.required < PARAMETER_COUNT) {
        message += "from " + std::to_string(signature.required) + " to " + std::to_string(PARAMETER_COUNT) +
                   " positional arguments";
    } else {
        message += std::to_string(PARAMETER_COUNT) + " positional arguments";
    }
    message += " but " + std::to_string(given) + (given == 1 ? " was given" : " were given");
    raise_type_error(message);
}

[[noreturn]] void raise_missing(const Signature& signature, const std::vector<const char*>& missing) {
    const std::size_t count = missing.size();
    raise_type_error(std::string(signature.function_name) + "() missing " + std::to_string(count) +
                     " required positional argument" + (count == 1 ? "" : "s") + ": " +
                     quoted_name_list(missing));
}

}  // namespace

BoundArguments bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    BoundArguments bound{};
    const auto positional = static_cast<std::size_t>(nargs);
    for (std::size_t i = 0; i < positional && i < PARAMETER_COUNT; ++i) bound[i] = args[i];

    // Keywords first, as the interpreter does: an unknown or repeated keyword
    // is reported even when there are also too many positional arguments.
    const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = PyTuple_GetItem(kwnames, k);
        if (keyword == nullptr) throw_python_error();
        std::size_t index = 0;
        while (index < PARAMETER_COUNT &&
               PyUnicode_CompareWithASCIIString(keyword, signature.parameters[index]) != 0) {
            ++index;
        }
        if (index == PARAMETER_COUNT) raise_unexpected_keyword(signature, keyword);
        if (bound[index] != nullptr) {
            raise_type_error(std::string(signature.function_name) + "() got multiple values for argument '" +
                             signature.parameters[index] + "'");
        }
        bound[index] = args[nargs + k];
    }

    if (positional > PARAMETER_COUNT) raise_too_many_positional(signature, nargs);

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < signature.required; ++i) {
        if (bound[i] == nullptr) missing.push_back(signature.parameters[i]);
    }
    if (!missing.empty()) raise_missing(signature, missing);
    return bound;
}

}  // namespace pixmorf::python
