#pragma once
#include <optional>
#include <string>

#include "settings.hpp"

namespace pixmorf {

// Decode, convert, then create the output file and stream the document into
// it. Returns nothing on success or the error text.
std::optional<std::string> convert_file(const std::string& input_path, const std::string& output_path,
                                        const Settings& settings);

}  // namespace pixmorf
