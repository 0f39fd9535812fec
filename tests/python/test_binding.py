"""The module surface, argument binding and conversion, and the entry functions."""

import re
import subprocess
import sys
import textwrap

import pytest

import pixmorf

OPTIONS = (
    "colormode", "hierarchical", "mode", "filter_speckle", "color_precision", "layer_difference",
    "corner_threshold", "length_threshold", "max_iterations", "splice_threshold", "path_precision",
)
SIGNATURES = {
    "convert_image_to_svg_py": "image_path, out_path",
    "convert_raw_image_to_svg": "img_bytes, img_format=None",
    "convert_pixels_to_svg": "rgba_pixels, size",
}


def text_signature(name):
    return "(" + SIGNATURES[name] + "".join(f", {option}=None" for option in OPTIONS) + ")"


def empty_document(width, height):
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        "<!-- Generator: glyphfoundry Pixmorf 0.6.12 -->\n"
        f'<svg version="1.1" xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}">\n'
        "</svg>\n"
    )


def internal_failure_of(call):
    """Runs call, which must raise the internal-failure exception; returns it."""
    with pytest.raises(BaseException) as caught:
        call()
    assert not isinstance(caught.value, Exception), repr(caught.value)
    return caught.value


# Pure-Python functions of the same signatures: the interpreter's own binding errors.
REFERENCE = {}
for _name in SIGNATURES:
    exec(f"def {_name}{text_signature(_name)}: pass", REFERENCE)

# A small picture with two colours, 4 x 4.
PICTURE = [(255, 0, 0, 255) if x < 2 else (0, 0, 255, 255) for y in range(4) for x in range(4)]


def convert_picture(**options):
    return pixmorf.convert_pixels_to_svg(PICTURE, (4, 4), **options)


# ---------------------------------------------------------------- module surface


def test_functions_in_registration_order():
    assert pixmorf.__all__ == list(SIGNATURES)
    assert isinstance(pixmorf.__all__, list)


@pytest.mark.parametrize("name", SIGNATURES)
def test_function_attributes(name):
    function = getattr(pixmorf, name)
    assert function.__module__ == "pixmorf"
    assert function.__name__ == name
    assert function.__text_signature__ == text_signature(name)
    expected_doc = "Python binding" if name == "convert_image_to_svg_py" else None
    assert function.__doc__ == expected_doc


def test_second_initialisation_raises_import_error():
    script = textwrap.dedent(
        """
        import sys
        import pixmorf
        del sys.modules["pixmorf"]
        try:
            import pixmorf
        except ImportError as error:
            print("ImportError:", error)
        """
    )
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert result.stdout.startswith("ImportError: ")
    assert "once" in result.stdout


# ---------------------------------------------------------------- binding errors

# Bad calls, as (positional, keywords); the first two arguments are placeholders.
FOURTEEN = tuple(range(14))
BAD_CALLS = [
    ((), {}),
    ((b"",), {}),
    ((), {"size": (0, 0)}),
    ((), {"out_path": "x"}),
    (FOURTEEN, {}),
    (FOURTEEN + (1, 2), {}),
    ((b"", (0, 0)), {"colour": 1}),
    ((b"", (0, 0)), {"Mode": "none"}),
    ((b"", (0, 0)), {"\udc80": 1}),
    ((b"", (0, 0)), {"mode": None, "modes": None}),
    ((b"",), {"rgba_pixels": []}),
    ((b"", (0, 0), None), {"colormode": None}),
    ((b"", (0, 0)), {"size": (0, 0), "img_format": None, "out_path": "x"}),
    ((b"",) * 13, {"path_precision": 1}),
    (FOURTEEN, {"colormode": None}),
    (FOURTEEN, {"unknown": None}),
]


@pytest.mark.parametrize("name", SIGNATURES)
@pytest.mark.parametrize(("args", "kwargs"), BAD_CALLS)
def test_binding_errors_match_the_interpreter(name, args, kwargs):
    try:
        REFERENCE[name](*args, **kwargs)
    except TypeError as error:
        # Newer interpreters append a spelling suggestion; the messages are those of 3.12.
        expected = re.sub(r"\. Did you mean '[^']*'\?$", "", str(error))
    else:
        expected = None  # the call binds; only a value error may follow
    try:
        getattr(pixmorf, name)(*args, **kwargs)
        actual = None
    except TypeError as error:
        actual = str(error)
    except Exception:
        actual = None
    if expected is None and actual is not None:
        assert actual.startswith("argument '")
    else:
        assert actual == expected


@pytest.mark.parametrize(
    ("call", "message"),
    [
        (lambda: pixmorf.convert_pixels_to_svg([]), "convert_pixels_to_svg() missing 1 required positional argument: 'size'"),
        (
            lambda: pixmorf.convert_image_to_svg_py(),
            "convert_image_to_svg_py() missing 2 required positional arguments: 'image_path' and 'out_path'",
        ),
        (
            lambda: pixmorf.convert_raw_image_to_svg(*FOURTEEN),
            "convert_raw_image_to_svg() takes from 1 to 13 positional arguments but 14 were given",
        ),
        (
            lambda: pixmorf.convert_pixels_to_svg([], (0, 0), colour=None),
            "convert_pixels_to_svg() got an unexpected keyword argument 'colour'",
        ),
        (
            lambda: pixmorf.convert_pixels_to_svg([], (0, 0), size=None),
            "convert_pixels_to_svg() got multiple values for argument 'size'",
        ),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert str(caught.value) == message


def test_all_arguments_by_keyword():
    keywords = {option: None for option in OPTIONS}
    assert pixmorf.convert_pixels_to_svg(size=(0, 0), rgba_pixels=[], **keywords) == empty_document(0, 0)


# ---------------------------------------------------------------- value conversion


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class FloatLike:
    def __float__(self):
        return 5.0


class Text(str):
    pass


class Pair(tuple):
    pass


class BadIndex:
    def __index__(self):
        raise TypeError("no index here")


# (function, positional, keywords, exception type, exact message or None)
PIXELS = pixmorf.convert_pixels_to_svg
RAW = pixmorf.convert_raw_image_to_svg
FILE = pixmorf.convert_image_to_svg_py
CONVERSION_ERRORS = [
    (PIXELS, ([], (0, 0)), {"filter_speckle": -1}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"filter_speckle": 2**64}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"max_iterations": -1}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"color_precision": 2**31}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"layer_difference": -(2**31) - 1}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"corner_threshold": 2**31}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"splice_threshold": 2**100}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"path_precision": -1}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"path_precision": 2**32}, OverflowError, None),
    (PIXELS, ([], (0, 0)), {"colormode": "\udc80"}, UnicodeEncodeError, None),
    (PIXELS, ([], (0, 0)), {"filter_speckle": "4"},
     TypeError, "argument 'filter_speckle': 'str' object cannot be interpreted as an integer"),
    (PIXELS, ([], (0, 0)), {"color_precision": 6.0},
     TypeError, "argument 'color_precision': 'float' object cannot be interpreted as an integer"),
    (PIXELS, ([], (0, 0)), {"path_precision": BadIndex()}, TypeError, "argument 'path_precision': no index here"),
    (PIXELS, ([], (0, 0)), {"length_threshold": "5"},
     TypeError, "argument 'length_threshold': must be real number, not str"),
    (PIXELS, ([], (0, 0)), {"colormode": 1},
     TypeError, "argument 'colormode': 'int' object is not an instance of 'str'"),
    (PIXELS, ([], (0, 0)), {"hierarchical": b"cutout"},
     TypeError, "argument 'hierarchical': 'bytes' object is not an instance of 'str'"),
    (PIXELS, ([], (0, 0)), {"mode": ["none"]}, TypeError, "argument 'mode': 'list' object is not an instance of 'str'"),
    (PIXELS, ("abcd", (1, 1)), {}, TypeError, "argument 'rgba_pixels': a 'str' object cannot be taken as a sequence"),
    (PIXELS, (5, (1, 1)), {}, TypeError, "argument 'rgba_pixels': 'int' object is not an instance of 'Sequence'"),
    (PIXELS, ({(1, 2, 3, 4): 0}, (1, 1)), {},
     TypeError, "argument 'rgba_pixels': 'dict' object is not an instance of 'Sequence'"),
    (PIXELS, ([[1, 2, 3, 4]], (1, 1)), {},
     TypeError, "argument 'rgba_pixels': 'list' object is not an instance of 'tuple'"),
    (PIXELS, ([(1, 2, 3, "4")], (1, 1)), {},
     TypeError, "argument 'rgba_pixels': 'str' object cannot be interpreted as an integer"),
    (PIXELS, ([(1, 2, 3)], (1, 1)), {}, ValueError, "expected tuple of length 4, but got tuple of length 3"),
    (PIXELS, ([(1, 2, 3, 4, 5)], (1, 1)), {}, ValueError, "expected tuple of length 4, but got tuple of length 5"),
    (PIXELS, ([(1, 2, 3, 256)], (1, 1)), {}, OverflowError, None),
    (PIXELS, ([(-1, 2, 3, 4)], (1, 1)), {}, OverflowError, None),
    (PIXELS, ([], [1, 1]), {}, TypeError, "argument 'size': 'list' object is not an instance of 'tuple'"),
    (PIXELS, ([], (1,)), {}, ValueError, "expected tuple of length 2, but got tuple of length 1"),
    (PIXELS, ([], (1, 1, 1)), {}, ValueError, "expected tuple of length 2, but got tuple of length 3"),
    (PIXELS, ([], (-1, 0)), {}, OverflowError, None),
    (PIXELS, ([], (0, 2**64)), {}, OverflowError, None),
    (PIXELS, ([], (1.0, 1)), {}, TypeError, "argument 'size': 'float' object cannot be interpreted as an integer"),
    (RAW, ("PNG",), {}, TypeError, "argument 'img_bytes': a 'str' object cannot be taken as a sequence"),
    (RAW, (None,), {}, TypeError, "argument 'img_bytes': 'NoneType' object is not an instance of 'Sequence'"),
    (RAW, ([1, 256],), {}, OverflowError, None),
    (RAW, ([1.5],), {}, TypeError, "argument 'img_bytes': 'float' object cannot be interpreted as an integer"),
    (RAW, (b"",), {"img_format": 5}, TypeError, "argument 'img_format': 'int' object is not an instance of 'str'"),
    (FILE, (None, "out.svg"), {}, TypeError, "argument 'image_path': 'NoneType' object is not an instance of 'str'"),
    (FILE, ("in.png", b"out.svg"), {}, TypeError, "argument 'out_path': 'bytes' object is not an instance of 'str'"),
    (FILE, ("\udc80.png", "out.svg"), {}, UnicodeEncodeError, None),
]


@pytest.mark.parametrize(("function", "args", "kwargs", "error", "message"), CONVERSION_ERRORS)
def test_conversion_errors(function, args, kwargs, error, message):
    with pytest.raises(error) as caught:
        function(*args, **kwargs)
    assert type(caught.value) is error
    if message is not None:
        assert str(caught.value) == message
    if error is TypeError:
        assert type(caught.value.__cause__) is TypeError
        assert message.endswith(": " + str(caught.value.__cause__))
    else:
        assert caught.value.__cause__ is None


@pytest.mark.parametrize(
    ("call", "error", "parameter"),
    [
        # The first parameter in order fails, whatever follows.
        (lambda: PIXELS("x", [1], colormode=1), TypeError, "rgba_pixels"),
        (lambda: PIXELS([], [1], colormode=1), TypeError, "size"),
        (lambda: PIXELS([], (0, 0), path_precision=-1, colormode=1), TypeError, "colormode"),
        (lambda: PIXELS([], (0, 0), mode=1, hierarchical=1), TypeError, "hierarchical"),
        (lambda: PIXELS([], (0, 0), path_precision="1", filter_speckle=-1), OverflowError, None),
        # Arguments are converted before anything is decoded.
        (lambda: RAW(b"", splice_threshold="45"), TypeError, "splice_threshold"),
    ],
)
def test_first_failing_parameter_wins(call, error, parameter):
    with pytest.raises(error) as caught:
        call()
    if parameter is not None:
        assert str(caught.value).startswith(f"argument '{parameter}': ")


@pytest.mark.parametrize(
    ("options", "plain"),
    [
        ({"filter_speckle": Index(4), "max_iterations": Index(10)}, {"filter_speckle": 4, "max_iterations": 10}),
        ({"filter_speckle": True}, {"filter_speckle": 1}),
        ({"color_precision": Index(6)}, {"color_precision": 6}),
        ({"length_threshold": 5}, {"length_threshold": 5.0}),
        ({"length_threshold": FloatLike()}, {"length_threshold": 5.0}),
        ({"mode": Text("polygon"), "colormode": Text("binary")}, {"mode": "polygon", "colormode": "binary"}),
        ({"path_precision": Index(3)}, {"path_precision": 3}),
    ],
)
def test_accepted_value_kinds(options, plain):
    assert convert_picture(**options) == convert_picture(**plain)


@pytest.mark.parametrize(
    "options",
    [
        {"filter_speckle": 2**64 - 1, "max_iterations": 2**64 - 1},
        {"filter_speckle": 0, "max_iterations": 0},
        {"color_precision": -(2**31), "layer_difference": 2**31 - 1},
        {"corner_threshold": 2**31 - 1, "splice_threshold": -(2**31)},
        {"path_precision": 2**32 - 1},
        {"path_precision": 0},
    ],
)
def test_range_ends_are_accepted(options):
    # A picture without pixels: only the conversion of the values is exercised.
    assert pixmorf.convert_pixels_to_svg([], (0, 0), **options) == empty_document(0, 0)


@pytest.mark.parametrize(
    "pixels",
    [
        [(1, 2, 3, 4), (5, 6, 7, 8)],
        ((1, 2, 3, 4), Pair((5, 6, 7, 8))),
        [(Index(1), 2, 3, 4), (5, 6, 7, Index(8))],
    ],
)
def test_pixel_sequence_kinds(pixels):
    size = Pair((Index(2), 1))
    assert pixmorf.convert_pixels_to_svg(pixels, size) == pixmorf.convert_pixels_to_svg(
        [(1, 2, 3, 4), (5, 6, 7, 8)], (2, 1)
    )


@pytest.mark.parametrize("data", [b"", bytearray(), [], (), memoryview(b""), b"\x00\x01", [0, 1], (0, 1)])
def test_undecodable_bytes(data):
    with pytest.raises(Exception) as caught:
        pixmorf.convert_raw_image_to_svg(data)
    assert type(caught.value) is Exception
    assert str(caught.value) == "Failed to decode img_bytes. "


# ---------------------------------------------------------------- options


def test_none_options_equal_defaults():
    assert convert_picture(**{option: None for option in OPTIONS}) == convert_picture()


@pytest.mark.parametrize(
    ("option", "values"),
    [
        ("colormode", ["color", "Binary", "BINARY", "", "binary ", "binary\x00"]),
        ("hierarchical", ["stacked", "Cutout", "", "cut out"]),
        ("mode", ["spline", "Spline", "NONE", "Polygon", ""]),
    ],
)
def test_unrecognised_option_strings_select_the_default(option, values):
    default = convert_picture()
    for value in values:
        assert convert_picture(**{option: value}) == default, value


@pytest.mark.parametrize(("option", "value"), [("colormode", "binary"), ("mode", "none"), ("mode", "polygon")])
def test_recognised_option_strings_change_the_document(option, value):
    assert convert_picture(**{option: value}) != convert_picture()


# ---------------------------------------------------------------- pixel conversions


@pytest.mark.parametrize(("width", "height"), [(0, 0), (3, 0), (0, 7), (0, 2**64 - 1), (2**64 - 1, 0)])
def test_picture_without_pixels_is_an_empty_document(width, height):
    assert pixmorf.convert_pixels_to_svg([], (width, height)) == empty_document(width, height)


@pytest.mark.parametrize(
    ("count", "size", "message"),
    [
        (99, (10, 10), "Expected 100 (10 * 10), got 99. "),
        (1, (0, 5), "Expected 0 (0 * 5), got 1. "),
        # A product beyond 64 bits never matches; the message shows it wrapped.
        (0, (2**32, 2**32), "Expected 0 (4294967296 * 4294967296), got 0. "),
        (1, (2**63 + 1, 2**63 + 1), "Expected 1 (9223372036854775809 * 9223372036854775809), got 1. "),
    ],
)
def test_pixel_count_mismatch(count, size, message):
    with pytest.raises(Exception) as caught:
        pixmorf.convert_pixels_to_svg([(0, 0, 0, 255)] * count, size)
    assert type(caught.value) is Exception
    assert str(caught.value) == "Length of rgba_pixels does not match given image size. " + message


def test_pixel_conversion_returns_a_document_of_the_size():
    text = pixmorf.convert_pixels_to_svg([(0, 0, 0, 255)] * 6, (3, 2))
    assert text.startswith(empty_document(3, 2).removesuffix("</svg>\n"))
    assert text.endswith("</svg>\n")


# ---------------------------------------------------------------- internal failure


def test_internal_failure_class_and_diagnostic(tmp_path, capsys):
    missing = str(tmp_path / "missing.png")
    first = internal_failure_of(lambda: pixmorf.convert_image_to_svg_py(missing, str(tmp_path / "out.svg")))
    second = internal_failure_of(lambda: pixmorf.convert_image_to_svg_py(missing, str(tmp_path / "out.svg")))
    failure_type = type(first)
    assert failure_type is type(second)
    assert failure_type.__bases__ == (BaseException,)
    assert failure_type.__module__ == "pixmorf"
    assert not hasattr(pixmorf, failure_type.__name__)
    assert "BaseException" in failure_type.__doc__
    message = 'An unexpected error result was met: "No image file found at specified input path"'
    assert first.args == (message,)
    assert capsys.readouterr().err.count(message) == 2
