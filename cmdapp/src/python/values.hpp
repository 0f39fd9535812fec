#pragma once
// Conversion of Python argument values to C++ values. Each conversion throws
// PythonErrorSet with the Python error set when the value does not fit.
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "converter/settings.hpp"
#include "errors.hpp"

namespace pixmorf::python {

// Integers by the __index__ protocol; OverflowError outside the type's range.
std::uint64_t to_u64(PyObject* object);
std::int32_t to_i32(PyObject* object);
std::uint32_t to_u32(PyObject* object);
// A float as it is, anything else by the interpreter's float conversion.
double to_f64(PyObject* object);
// The UTF-8 text of a str (or subclass). The view lives as long as the object.
std::string_view to_utf8(PyObject* object);
// A sequence (not a str) of integers 0..255.
std::vector<std::uint8_t> to_byte_vector(PyObject* object);
// A sequence (not a str) of (red, green, blue, alpha) tuples, four bytes per tuple.
std::vector<std::uint8_t> to_pixel_bytes(PyObject* object);
// A tuple (width, height) of unsigned 64-bit integers.
std::pair<std::uint64_t, std::uint64_t> to_size(PyObject* object);

// Runs `convert` on the argument of `parameter`; a TypeError it raises gets
// the parameter's name as prefix.
template <class Convert>
auto convert_argument(const char* parameter, PyObject* object, Convert&& convert) {
    try {
        return convert(object);
    } catch (const PythonErrorSet&) {
        prefix_type_error(parameter);
        throw;
    }
}

// The eleven shared options, in parameter order; nullptr or None selects the default.
Settings settings_from_options(PyObject* const* options);

}  // namespace pixmorf::python
