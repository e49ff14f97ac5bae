// The statistics of the aggregation commands and the threads they run on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace aggregate {

enum class Stat { sum, mean, min, max };

/// sum, mean, min or max; a usage ToolError names `option` and the text otherwise.
Stat parse_stat(const std::string& text, const char* option);
/// "sum", "mean", "min", "max".
const char* stat_name(Stat s);

/// Runs body(begin, end) over contiguous blocks of [0, n), one block per thread
/// (raster::default_thread_count(), at most one per `grain` items). The first exception of the
/// lowest block is rethrown when all have finished, so a failure reads the same for every
/// thread count.
void for_blocks(int64_t n, int64_t grain, const std::function<void(int64_t, int64_t)>& body);

}  // namespace aggregate
