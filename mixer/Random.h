// The random numbers of SNOW and GLITCH. The C library's own generator (the one rand() runs),
// kept in a state of our own so that a call takes no lock: after seedRandom(s) the values of
// nextRandom() are exactly those rand() gives after srand(s).
#pragma once

void seedRandom(unsigned seed);
// 0..RAND_MAX, like rand().
int nextRandom();
// The next count values of nextRandom() in order, for a whole frame's worth at once.
void fillRandom(int* values, int count);
