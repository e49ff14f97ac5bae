// The four slice products, made from the finished slice sums.
#pragma once

#include "outputs.h"
#include "slices.h"

namespace corvane {

/// Writes ofile1, ofile5, ofile2 and ofile6 from the slice sums, which it consumes.
void write_slice_products(SliceSums sums, OutputSet& outputs);

}  // namespace corvane
