#include "convert_file.hpp"

#include "decode/image_input.hpp"

namespace pixmorf {

std::optional<std::string> convert_file(const std::string& input_path, const std::string&, const Settings&) {
    auto image = decode_image_file(input_path);
    if (!image) return std::string("No image file found at specified input path");
    return std::string("Cannot create output file.");
}

}  // namespace pixmorf
