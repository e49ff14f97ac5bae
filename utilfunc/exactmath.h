// Correctly rounded cosine and sine (MPFR), for the few geometric values of a run (a row's
// cosine weight, a cell's area): the C library's last bit depends on the processor (glibc picks
// FMA variants at run time), these do not.
#pragma once

namespace raster {

/// cos(x) rounded to the nearest double.
double cos_rounded(double x);
/// sin(x) rounded to the nearest double.
double sin_rounded(double x);

}  // namespace raster
