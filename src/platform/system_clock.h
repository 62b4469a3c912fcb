#pragma once

#include <ctime>

#include "core/services.h"

namespace auralist {

class SystemClock : public Clock {
public:
    std::time_t now() const override { return std::time(nullptr); }
};

} // namespace auralist
