// The framework's uniform integer draw for the randomise command, over the process's
// pseudo-random generator (seeded with the calendar time at every Prepare).
#pragma once

// A value in low..high inclusive (the bounds may come in either order). Draws are
// rejection-sampled under the smallest all-ones mask that covers the span, from bits
// 4..14 of each 15-bit draw, so spans wider than 2047 cannot reach their upper values.
int RandomInt(int low, int high);
