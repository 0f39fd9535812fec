#include "failure.hpp"

namespace glyph {

void stop(std::string message, std::source_location location) {
    std::string where = std::string(location.file_name()) + ":" + std::to_string(location.line()) +
                        " (" + location.function_name() + ")";
    throw InternalFailure(std::move(message), std::move(where));
}

}  // namespace glyph
