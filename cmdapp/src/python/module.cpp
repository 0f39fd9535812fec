// Placeholder module until the binding lands.
#include <Python.h>

static PyModuleDef pixmorf_module = {PyModuleDef_HEAD_INIT, "pixmorf", "Raster to SVG conversion.", -1,
                                     nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit_pixmorf(void) { return PyModule_Create2(&pixmorf_module, 1013); }
