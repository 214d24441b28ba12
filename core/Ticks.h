// The platform's millisecond clock on its own, for code that needs the time and nothing else of
// the platform (the console's core is built without SDL).
#pragma once
#include <cstdint>

namespace platform {

uint32_t ticks();

}  // namespace platform
