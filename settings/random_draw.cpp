// The uniform integer draw behind Randomize.
#include "settings/random_draw.h"

#include <cstdint>
#include <cstdlib>

int RandomInt(int low, int high) {
  if (low > high) {
    const int swap = low;
    low = high;
    high = swap;
  }
  const int64_t span = int64_t(high) - int64_t(low);
  int64_t mask = 1;
  while (mask < span && mask < 0x7fffffff) mask = mask * 2 + 1;
  // Only 15 bits of each draw count, whatever the runtime's RAND_MAX, so every build
  // draws from the same range.
  for (;;) {
    const int64_t draw = std::rand() & 32767;
    const int64_t r = int64_t(low) + ((draw >> 4) & mask);
    if (r <= high) return int(r);
  }
}
