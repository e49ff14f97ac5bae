// The loops that touch every value: period means and the per-pixel comparison, over one chunk
// of pixels at a time. Built for the baseline instruction set, AVX2 and AVX-512; the processor
// picks one when the program starts, and all give the same bits.
#pragma once

#include <cstdint>

namespace fennick::kernels {

/// m[i] = m[i] + x[i] / years for i in [0, n): one year of one plant type added to its period
/// mean. Where x[i] is NaN the result is the NaN of the quotient, whatever m[i] holds (the
/// newest year's NaN is the one kept), as the tool has always added.
void add_band(const float* x, int64_t n, float years, float* m);

/// Output values of n pixels. m1 and m2 hold the period means of plant types 1 to 9 in rows 1
/// to 9 (`stride` values apart); row 0 of each receives the uncovered fraction. A pixel whose
/// `test` value (band 0 of the last year of period 1) is not above 0.001 gets similarity 1.
/// `sim` selects the similarity, otherwise the dissimilarity 1 - S is written.
void values(float* m1, float* m2, int64_t stride, const float* test, int64_t n, bool sim,
            float* out);

}  // namespace fennick::kernels
