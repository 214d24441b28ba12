// rand() takes the C library's lock on every call, which SNOW's hundreds of draws per frame
// notice. glibc's reentrant calls run the same generator (TYPE_3 on a 128-byte state, the type
// rand() uses) on a state we hold, with no lock; only the compositor's thread draws from it.
#include "mixer/Random.h"

#include <cstdlib>

#if defined(__GLIBC__)

namespace {

struct Generator {
    random_data data{};  // zeroed: initstate_r writes into a previous state it finds there
    char state[128];
    Generator() { initstate_r(1, state, sizeof state, &data); }  // rand() unseeded is srand(1)
};

Generator& generator() {
    static Generator g;
    return g;
}

}  // namespace

void seedRandom(unsigned seed) { srandom_r(seed, &generator().data); }

int nextRandom() {
    int32_t r;
    random_r(&generator().data, &r);
    return r;
}

void fillRandom(int* values, int count) {
    random_data* data = &generator().data;
    for (int i = 0; i < count; i++) {
        int32_t r;
        random_r(data, &r);
        values[i] = r;
    }
}

#else

// Elsewhere the library's rand() itself, which gives the same numbers.
void seedRandom(unsigned seed) { std::srand(seed); }
int nextRandom() { return std::rand(); }
void fillRandom(int* values, int count) {
    for (int i = 0; i < count; i++) values[i] = std::rand();
}

#endif
