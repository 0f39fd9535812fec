// The pixmorf extension module: its three functions and its initialisation.
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <variant>

#include "../../../glyphfoundry/src/failure.hpp"
#include "arguments.hpp"
#include "converter/convert_encoded.hpp"
#include "converter/convert_file.hpp"
#include "converter/decode/image_input.hpp"
#include "errors.hpp"
#include "py_ref.hpp"
#include "values.hpp"

namespace pixmorf::python {

namespace {

#define PIXMORF_OPTIONS                                                                                 \
    "colormode", "hierarchical", "mode", "filter_speckle", "color_precision", "layer_difference",       \
        "corner_threshold", "length_threshold", "max_iterations", "splice_threshold", "path_precision"

constexpr Signature IMAGE_TO_SVG{"convert_image_to_svg_py", {"image_path", "out_path", PIXMORF_OPTIONS}, 2};
constexpr Signature RAW_IMAGE_TO_SVG{"convert_raw_image_to_svg", {"img_bytes", "img_format", PIXMORF_OPTIONS}, 1};
constexpr Signature PIXELS_TO_SVG{"convert_pixels_to_svg", {"rgba_pixels", "size", PIXMORF_OPTIONS}, 2};

#undef PIXMORF_OPTIONS

constexpr const char* CONVERSION_FAILED = "Failed to convert the image. ";

PyObject* given_or_null(PyObject* object) { return object == Py_None ? nullptr : object; }

// The pixels of the tuples, row-major; the caller has checked the count.
glyph::RgbaRaster image_from_pixels(std::vector<std::uint8_t> pixels, std::uint64_t width, std::uint64_t height) {
    static_assert(sizeof(std::size_t) >= sizeof(std::uint64_t), "picture sides are 64-bit");
    glyph::RgbaRaster image;
    image.pixels = std::move(pixels);
    image.width = width;
    image.height = height;
    return image;
}

// The document text as a str.
PyObject* outcome_to_text(const ConvertOutcome& outcome) {
    if (std::holds_alternative<ErrorText>(outcome)) {
        raise_exception(CONVERSION_FAILED);
        return nullptr;
    }
    const std::string text = render_svg_to_string(std::get<SvgDocument>(outcome));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// Converts the picture and returns the document text as a str.
PyObject* convert_to_text(glyph::RgbaRaster image, const Settings& settings) {
    return outcome_to_text(convert_picture(std::move(image), settings));
}

PyObject* convert_image_to_svg_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        const BoundArguments bound = bind_arguments(IMAGE_TO_SVG, args, nargs, kwnames);
        const std::string image_path(convert_argument("image_path", bound[0], to_utf8));
        const std::string out_path(convert_argument("out_path", bound[1], to_utf8));
        const Settings settings = settings_from_options(&bound[2]);
        if (auto error = convert_file(image_path, out_path, settings)) {
            glyph::stop("An unexpected error result was met: " + quote_error_text(*error));
        }
        Py_INCREF(Py_None);
        return Py_None;
    });
}

PyObject* convert_raw_image_to_svg(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        const BoundArguments bound = bind_arguments(RAW_IMAGE_TO_SVG, args, nargs, kwnames);
        std::vector<std::uint8_t> encoded = convert_argument("img_bytes", bound[0], to_byte_vector);
        std::optional<std::string_view> format;
        if (PyObject* name = given_or_null(bound[1])) format = convert_argument("img_format", name, to_utf8);
        const Settings settings = settings_from_options(&bound[2]);

        const std::optional<InputFormat> chosen = choose_format(encoded, format);
        std::optional<ConvertOutcome> outcome;
        if (chosen) outcome = decode_and_convert(std::move(encoded), *chosen, settings);
        if (!outcome) {
            raise_exception(DECODE_FAILED);
            return nullptr;
        }
        return outcome_to_text(*outcome);
    });
}

PyObject* convert_pixels_to_svg(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard([&]() -> PyObject* {
        const BoundArguments bound = bind_arguments(PIXELS_TO_SVG, args, nargs, kwnames);
        std::vector<std::uint8_t> pixels = convert_argument("rgba_pixels", bound[0], to_pixel_bytes);
        const auto [width, height] = convert_argument("size", bound[1], to_size);
        const Settings settings = settings_from_options(&bound[2]);

        const std::uint64_t count = pixels.size() / 4;
        std::uint64_t product = 0;
        // A product beyond 64 bits never matches, although the message shows it wrapped.
        const bool overflowed = __builtin_mul_overflow(width, height, &product);
        if (overflowed || product != count) {
            raise_exception("Length of rgba_pixels does not match given image size. Expected " +
                            std::to_string(product) + " (" + std::to_string(width) + " * " +
                            std::to_string(height) + "), got " + std::to_string(count) + ". ");
            return nullptr;
        }
        return convert_to_text(image_from_pixels(std::move(pixels), width, height), settings);
    });
}

template <auto Function>
PyCFunction as_method() {
    // Fast-call functions are stored in the generic slot and called by their real type.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

constexpr int FAST_CALL_WITH_KEYWORDS = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef FUNCTIONS[] = {
    {"convert_image_to_svg_py", as_method<&convert_image_to_svg_py>(), FAST_CALL_WITH_KEYWORDS,
     "convert_image_to_svg_py(image_path, out_path, colormode=None, hierarchical=None, mode=None, "
     "filter_speckle=None, color_precision=None, layer_difference=None, corner_threshold=None, "
     "length_threshold=None, max_iterations=None, splice_threshold=None, path_precision=None)\n--\n\n"
     "Python binding"},
    {"convert_raw_image_to_svg", as_method<&convert_raw_image_to_svg>(), FAST_CALL_WITH_KEYWORDS,
     "convert_raw_image_to_svg(img_bytes, img_format=None, colormode=None, hierarchical=None, mode=None, "
     "filter_speckle=None, color_precision=None, layer_difference=None, corner_threshold=None, "
     "length_threshold=None, max_iterations=None, splice_threshold=None, path_precision=None)\n--\n\n"},
    {"convert_pixels_to_svg", as_method<&convert_pixels_to_svg>(), FAST_CALL_WITH_KEYWORDS,
     "convert_pixels_to_svg(rgba_pixels, size, colormode=None, hierarchical=None, mode=None, "
     "filter_speckle=None, color_precision=None, layer_difference=None, corner_threshold=None, "
     "length_threshold=None, max_iterations=None, splice_threshold=None, path_precision=None)\n--\n\n"},
};

// Single-phase initialisation without per-module state (size 0): the
// interpreter calls the initialisation again on a second import, which is
// refused below, instead of silently copying the first module.
PyModuleDef MODULE_DEFINITION = {
    PyModuleDef_HEAD_INIT, "pixmorf", "Converts raster images to SVG documents.", 0, nullptr, nullptr,
    nullptr,           nullptr,   nullptr,
};

// Set once the module object has been created in this process.
bool module_created = false;

void check(int status) {
    if (status < 0) throw_python_error();
}

PyRef checked(PyObject* object) {
    if (object == nullptr) throw_python_error();
    return PyRef::steal(object);
}

// The module's __all__, created as an empty list when it has none.
PyRef all_list(PyObject* module) {
    PyRef key = checked(PyUnicode_FromString("__all__"));
    if (PyRef existing = PyRef::steal(PyObject_GetAttr(module, key.get()))) return existing;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_python_error();
    PyErr_Clear();
    PyRef list = checked(PyList_New(0));
    check(PyObject_SetAttr(module, key.get(), list.get()));
    return list;
}

void add_function(PyObject* module, PyMethodDef* definition) {
    const char* module_name = PyModule_GetName(module);
    if (module_name == nullptr) throw_python_error();
    PyRef module_name_object = checked(PyUnicode_FromStringAndSize(module_name, std::strlen(module_name)));
    PyRef function = checked(PyCMethod_New(definition, module, module_name_object.get(), nullptr));
    PyRef name = checked(PyUnicode_FromStringAndSize(definition->ml_name, std::strlen(definition->ml_name)));
    check(PyObject_SetAttr(module, name.get(), function.get()));
    PyRef all = all_list(module);
    check(PyList_Append(all.get(), name.get()));
}

PyObject* create_module() {
    PyRef module = checked(PyModule_Create2(&MODULE_DEFINITION, 1013));
    if (module_created) {
        PyErr_SetString(PyExc_ImportError, "pixmorf may only be initialised once per interpreter process");
        return nullptr;
    }
    module_created = true;
    for (PyMethodDef& definition : FUNCTIONS) add_function(module.get(), &definition);
    return module.release();
}

}  // namespace

}  // namespace pixmorf::python

PyMODINIT_FUNC PyInit_pixmorf(void) {
    return pixmorf::python::guard([] { return pixmorf::python::create_module(); });
}
