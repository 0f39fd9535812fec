#include "values.hpp"

#include <climits>
#include <span>

#include "py_ref.hpp"

namespace pixmorf::python {

namespace {

// The name of the object's type, as the interpreter's own messages show it.
PyRef type_name(PyObject* object) { return PyRef::steal(PyType_GetName(Py_TYPE(object))); }

[[noreturn]] void raise_wrong_type(PyObject* object, const char* expected) {
    PyRef name = type_name(object);
    if (name) PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), expected);
    throw_python_error();
}

[[noreturn]] void raise_overflow(const char* message) {
    PyErr_SetString(PyExc_OverflowError, message);
    throw_python_error();
}

PyRef index_of(PyObject* object) {
    PyRef index = PyRef::steal(PyNumber_Index(object));
    if (!index) throw_python_error();
    return index;
}

long to_long(PyObject* object) {
    PyRef index = index_of(object);
    const long value = PyLong_AsLong(index.get());
    if (value == -1 && PyErr_Occurred()) throw_python_error();
    return value;
}

std::uint8_t to_u8(PyObject* object) {
    const long value = to_long(object);
    if (value < 0) raise_overflow("can't convert negative int to unsigned");
    if (value > UCHAR_MAX) raise_overflow("Python int too large to convert to C unsigned char");
    return static_cast<std::uint8_t>(value);
}

// Refuses a str, which would otherwise pass as a sequence of characters.
void require_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "a 'str' object cannot be taken as a sequence");
        throw_python_error();
    }
    if (!PySequence_Check(object)) raise_wrong_type(object, "Sequence");
}

// The tuple's size when it is a tuple of `expected` items.
void require_tuple_of(PyObject* object, Py_ssize_t expected) {
    if (!PyTuple_Check(object)) raise_wrong_type(object, "tuple");
    const Py_ssize_t length = PyTuple_Size(object);
    if (length != expected) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length %zd, but got tuple of length %zd", expected,
                     length);
        throw_python_error();
    }
}

// A size hint for lists and tuples; other sequences grow as they are iterated.
std::size_t known_length(PyObject* object) {
    Py_ssize_t length = -1;
    if (PyList_CheckExact(object)) length = PyList_Size(object);
    if (PyTuple_CheckExact(object)) length = PyTuple_Size(object);
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// Calls `take(item)` for every item of the iterable, in order.
template <class Take>
void for_each_item(PyObject* object, Take&& take) {
    PyRef iterator = PyRef::steal(PyObject_GetIter(object));
    if (!iterator) throw_python_error();
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) take(item.get());
    if (PyErr_Occurred()) throw_python_error();
}

std::span<const std::uint8_t> bytes_view(const char* data, Py_ssize_t size) {
    return {reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

}  // namespace

std::uint64_t to_u64(PyObject* object) {
    PyRef index = index_of(object);
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_python_error();
    return value;
}

std::int32_t to_i32(PyObject* object) {
    const long value = to_long(object);
    if (value < INT32_MIN || value > INT32_MAX) raise_overflow("Python int too large to convert to C int");
    return static_cast<std::int32_t>(value);
}

std::uint32_t to_u32(PyObject* object) {
    const std::uint64_t value = to_u64(object);
    if (value > UINT32_MAX) raise_overflow("Python int too large to convert to C unsigned int");
    return static_cast<std::uint32_t>(value);
}

double to_f64(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) throw_python_error();
    return value;
}

std::string_view to_utf8(PyObject* object) {
    if (!PyUnicode_Check(object)) raise_wrong_type(object, "str");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) throw_python_error();  // UnicodeEncodeError for lone surrogates
    return {data, static_cast<std::size_t>(size)};
}

std::vector<std::uint8_t> to_byte_vector(PyObject* object) {
    // Exact bytes and bytearray hold the same integers as their iteration yields.
    if (PyBytes_CheckExact(object)) {
        const auto view = bytes_view(PyBytes_AsString(object), PyBytes_Size(object));
        return {view.begin(), view.end()};
    }
    if (PyByteArray_CheckExact(object)) {
        const auto view = bytes_view(PyByteArray_AsString(object), PyByteArray_Size(object));
        return {view.begin(), view.end()};
    }
    require_sequence(object);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(known_length(object));
    for_each_item(object, [&](PyObject* item) { bytes.push_back(to_u8(item)); });
    return bytes;
}

std::vector<std::uint8_t> to_pixel_bytes(PyObject* object) {
    require_sequence(object);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(4 * known_length(object));
    for_each_item(object, [&](PyObject* item) {
        require_tuple_of(item, 4);
        for (Py_ssize_t channel = 0; channel < 4; ++channel) {
            PyObject* value = PyTuple_GetItem(item, channel);
            if (value == nullptr) throw_python_error();
            bytes.push_back(to_u8(value));
        }
    });
    return bytes;
}

std::pair<std::uint64_t, std::uint64_t> to_size(PyObject* object) {
    require_tuple_of(object, 2);
    PyObject* width = PyTuple_GetItem(object, 0);
    if (width == nullptr) throw_python_error();
    const std::uint64_t w = to_u64(width);
    PyObject* height = PyTuple_GetItem(object, 1);
    if (height == nullptr) throw_python_error();
    return {w, to_u64(height)};
}

namespace {

bool given(PyObject* object) { return object != nullptr && object != Py_None; }

template <class T, class Convert>
void set_option(T& field, const char* parameter, PyObject* object, Convert&& convert) {
    if (given(object)) field = convert_argument(parameter, object, convert);
}

}  // namespace

Settings settings_from_options(PyObject* const* options) {
    Settings settings;
    // Strings select by exact, case-sensitive match; anything else keeps the default.
    if (given(options[0]) && convert_argument("colormode", options[0], to_utf8) == "binary") {
        settings.color_mode = ColorMode::Binary;
    }
    if (given(options[1]) && convert_argument("hierarchical", options[1], to_utf8) == "cutout") {
        settings.hierarchy = Hierarchy::Cutout;
    }
    if (given(options[2])) {
        const std::string_view mode = convert_argument("mode", options[2], to_utf8);
        if (mode == "none") settings.path_mode = PathMode::None;
        if (mode == "polygon") settings.path_mode = PathMode::Polygon;
    }
    set_option(settings.filter_speckle, "filter_speckle", options[3], to_u64);
    set_option(settings.color_precision, "color_precision", options[4], to_i32);
    set_option(settings.layer_difference, "layer_difference", options[5], to_i32);
    set_option(settings.corner_threshold, "corner_threshold", options[6], to_i32);
    set_option(settings.length_threshold, "length_threshold", options[7], to_f64);
    set_option(settings.max_iterations, "max_iterations", options[8], to_u64);
    set_option(settings.splice_threshold, "splice_threshold", options[9], to_i32);
    set_option(settings.path_precision, "path_precision", options[10], to_u32);
    return settings;
}

}  // namespace pixmorf::python
