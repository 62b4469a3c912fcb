#pragma once

#include <cstring>
#include <string>

namespace auralist {

// The system's text for an errno value, for the user.
inline std::string systemReason(int error)
{
    char buffer[256];
    // The GNU strerror_r returns the text, in buffer or in static storage.
    return ::strerror_r(error, buffer, sizeof buffer);
}

} // namespace auralist
