// The pixel rules of the band arithmetic tools, one loop per rule.
#pragma once

#include "engine.h"

namespace bandmath {

void sum_values(const Params& p, const Chunk& c, Tally& t);
void mult_values(const Params& p, const Chunk& c, Tally& t);
void div_values(const Params& p, const Chunk& c, Tally& t);
void div_report_capped(const Params& p, const Chunk& c);
void add_values(const Params& p, const Chunk& c, Tally& t);
void scale_values(const Params& p, const Chunk& c, Tally& t);
void limit_values(const Params& p, const Chunk& c, Tally& t);
void logistic_values(const Params& p, const Chunk& c, Tally& t);

}  // namespace bandmath
