// rastertools fldstat: per band, the weighted statistic of the pixels of each zone (all
// pixels, latitude bands or regions), as a table and a plot of the series.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stat.h"
#include "zones.h"

namespace aggregate {

/// One zone's result for one band.
struct ZoneValue {
  double value = 0;     ///< NaN when no pixel of the zone holds a value
  double weight = 0;    ///< sum of the weights of the pixels used
  int64_t used = 0;     ///< pixels whose value is not NaN
  int64_t skipped = 0;  ///< pixels whose value is NaN
};

/// The statistic of one band over each zone, into out[zone]: the pixels in the zone's order,
/// NaN values left out, in double. sum: sum of weight * value; mean: that over the sum of the
/// weights; min and max: of the values (unweighted).
void zone_stats(const float* band, const std::vector<double>& weights, const Zones& zones,
                Stat stat, ZoneValue* out);

/// The whole command; returns the exit status.
int run_fldstat(int argc, char** argv);

}  // namespace aggregate
