#pragma once

#include <cstring>
#include <string>

namespace larkmoor {

// The system's words for `error`, with its number: "Permission denied (errno 13)".
inline std::string Errno(int error) {
    return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

} // namespace larkmoor
