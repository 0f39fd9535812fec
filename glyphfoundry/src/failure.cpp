#include "failure.hpp"

namespace glyph {

void stop(std::string message, const char* file, int line, const char* function) {
    std::string where = std::string(file) + ":" + std::to_string(line) + " (" + function + ")";
    throw InternalFailure(std::move(message), std::move(where));
}

}  // namespace glyph
