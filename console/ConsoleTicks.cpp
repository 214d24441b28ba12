// The console core's clock without SDL: the notice line times itself with the platform's ticks,
// which the program's SDL platform layer gives and this build takes from the monotonic clock.
#include <cstdint>
#include <ctime>

#include "core/Ticks.h"

namespace platform {

uint32_t ticks() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return uint32_t(uint64_t(t.tv_sec) * 1000u + uint64_t(t.tv_nsec) / 1000000u);
}

}  // namespace platform
