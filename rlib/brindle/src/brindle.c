/* brindle.c - monthly aggregation routine loaded by R.
 *
 * One source for both builds. On x86-64 every step is a double-precision SSE2 operation; the
 * i386 build is compiled with -msse2 -mfpmath=sse so that it does the same operations (no x87
 * extended precision) and both builds give the same bits. Makes no call into R or any library:
 * fabs is a compiler builtin (a sign-bit mask). */
#include "brindle.h"

#include <math.h>

void brindle(const double *var_local, const int *ncells, const int *nmonths, const int *nyears,
             const double *NAvalue, double *var_sum, int *return_months) {
  const int nc = *ncells;
  const int nm = *nmonths;
  const int ny = *nyears;
  const double na = *NAvalue;

  /* Indexes in signed 32-bit arithmetic, as the interface says: the caller keeps
   * ncells * nmonths * nyears below 2^31. */
  for (int y = 0; y < ny; y++) {
    for (int c = 0; c < nc; c++) {
      int nmonths_cell = nm; /* months present */
      double mean_value = 0; /* running sum of the months present (a sum, despite its name) */
      for (int m = 0; m < nm; m++) {
        const double v = var_local[(y * nm + m) * nc + c];
        /* Strict test: a distance of exactly 1e-7 is a present month. NaN is never missing. */
        if (fabs(v - na) < 1e-7) {
          nmonths_cell--;
        } else {
          mean_value += v;
        }
      }
      var_sum[y * nc + c] = nmonths_cell > 0 ? mean_value : na;
      return_months[y * nc + c] = nmonths_cell;
    }
  }
}
