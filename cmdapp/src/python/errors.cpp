#include "errors.hpp"

#include <exception>
#include <new>

#include "../../../glyphfoundry/src/failure.hpp"
#include "py_ref.hpp"

namespace pixmorf::python {

namespace {

constexpr const char* INTERNAL_FAILURE_NAME = "pixmorf.InternalFailure";
constexpr const char* INTERNAL_FAILURE_DOC =
    "Raised when the native code of pixmorf fails.\n"
    "\n"
    "Like SystemExit it derives from BaseException, not from Exception, so it\n"
    "normally propagates to the top and ends the interpreter.";
constexpr std::string_view GENERIC_FAILURE_TEXT = "pixmorf failed in its native code for an unknown reason";
constexpr std::string_view UNKNOWN_PLACE = "an unknown place";

// Created on first use and kept for the life of the process.
PyObject* internal_failure_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        PyObject* created = PyErr_NewExceptionWithDoc(INTERNAL_FAILURE_NAME, INTERNAL_FAILURE_DOC,
                                                      PyExc_BaseException, nullptr);
        if (created == nullptr) return nullptr;
        // Creating a class runs Python code; another thread may have won meanwhile.
        if (type == nullptr) {
            type = created;
        } else {
            Py_DECREF(created);
        }
    }
    return type;
}

PyRef text_object(std::string_view text) {
    return PyRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

void append_hex(std::string& out, unsigned value) {
    static constexpr char DIGITS[] = "0123456789abcdef";
    out += "\\u{";
    if (value >= 16) out += DIGITS[value / 16];
    out += DIGITS[value % 16];
    out += '}';
}

}  // namespace

void raise_internal_failure(std::string_view message, std::string_view where) {
    const std::string text(message.empty() ? GENERIC_FAILURE_TEXT : message);
    const std::string place(where.empty() ? UNKNOWN_PLACE : where);
    PySys_FormatStderr("pixmorf: internal failure at %s: %s\n", place.c_str(), text.c_str());
    PyObject* type = internal_failure_type();
    if (type == nullptr) return;
    PyRef value = text_object(text);
    if (!value) return;
    PyErr_SetObject(type, value.get());
}

void raise_exception(std::string_view message) {
    PyRef value = text_object(message);
    if (!value) return;
    PyErr_SetObject(PyExc_Exception, value.get());
}

void prefix_type_error(const char* parameter) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    PyRef original = PyRef::steal(PyErr_GetRaisedException());
    PyRef original_text = PyRef::steal(PyObject_Str(original.get()));
    PyRef message;
    if (original_text) {
        message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", parameter, original_text.get()));
    }
    if (!message) {
        // The message cannot be built; keep the original error.
        PyErr_Clear();
        PyErr_SetRaisedException(original.release());
        return;
    }
    PyErr_SetObject(PyExc_TypeError, message.get());
    PyRef replacement = PyRef::steal(PyErr_GetRaisedException());
    PyException_SetCause(replacement.get(), original.release());
    PyErr_SetRaisedException(replacement.release());
}

std::string quote_error_text(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        switch (byte) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            default: break;
        }
        if (byte < 0x20 || byte == 0x7f) {
            append_hex(out, byte);
        } else if (byte == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            // A C1 control character, U+0080 to U+009F, in UTF-8.
            append_hex(out, static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(byte);
        }
    }
    out += '"';
    return out;
}

void set_error_from_current_exception() noexcept {
    try {
        try {
            throw;
        } catch (const PythonErrorSet&) {
            // The Python error is already set.
        } catch (const glyph::InternalFailure& failure) {
            raise_internal_failure(failure.message, failure.where);
        } catch (const glyph::MemoryLimitExceeded& failure) {
            PyErr_SetString(PyExc_MemoryError, failure.message.c_str());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& failure) {
            raise_internal_failure(failure.what(), UNKNOWN_PLACE);
        } catch (...) {
            raise_internal_failure(GENERIC_FAILURE_TEXT, UNKNOWN_PLACE);
        }
    } catch (...) {
        // Reporting the failure failed itself (out of memory while building the text).
        PyErr_NoMemory();
    }
}

}  // namespace pixmorf::python
