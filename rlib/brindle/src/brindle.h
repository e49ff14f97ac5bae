/* brindle.h - the monthly aggregation routine called by R through .C. */
#ifndef BRINDLE_H
#define BRINDLE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sums the months present (those farther than 1e-7 from *NAvalue) of every cell and year and
 * counts them. Every argument is passed by address, as R's .C passes it:
 *   var_local      in   ncells x nmonths x nyears values, element (y * nmonths + m) * ncells + c
 *   ncells, nmonths, nyears, NAvalue   in   one value each
 *   var_sum        out  ncells x nyears sums, element y * ncells + c (NAvalue if no month present)
 *   return_months  out  ncells x nyears counts of the months present
 * Checks nothing: ncells * nmonths * nyears must stay below 2^31 and the arrays must be that long.
 */
void brindle(const double *var_local, const int *ncells, const int *nmonths, const int *nyears,
             const double *NAvalue, double *var_sum, int *return_months);

#ifdef __cplusplus
}
#endif

#endif
