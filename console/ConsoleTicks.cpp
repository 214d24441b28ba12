// The platform's ticks without SDL, for the builds of parts of the core that leave the platform
// layer out (the console's core, the playlists file fuzzer): the notice line times itself with
// them; here they come from the monotonic clock.
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
