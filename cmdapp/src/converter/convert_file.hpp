#pragma once
#include <optional>
#include <string>

#include "settings.hpp"

namespace pixmorf {

// Decode, convert, then create the output file and stream the document into
// it. Returns nothing on success or the error text.
std::optional<std::string> convert_file(const std::string& input_path, const std::string& output_path,
                                        const Settings& settings);

// convert_image, except that a picture without pixels (a zero side, however
// long the other one) gives at once a document of its size with no shapes.
ConvertOutcome convert_picture(glyph::RgbaRaster image, const Settings& settings);

// Creates (or truncates) the file and renders the document into it. A
// document that rendering would stop on stops before the file is touched.
// Returns nothing on success or "Cannot create output file.".
std::optional<std::string> write_svg_file(const SvgDocument& document, const std::string& output_path);

}  // namespace pixmorf
