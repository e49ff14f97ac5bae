// The eight outputs: created in command-line order, written band by band (the slice products)
// or block by block from the threads (the series), closed in order, every write and close
// checked.
#include "outputs.h"

#include <sys/stat.h>

namespace corvane {

OutputSet::OutputSet(std::span<const char* const> paths, std::span<const char* const> inputs,
                     int64_t npixel)
    : npixel_(npixel) {
  raster::refuse_output_over_input(inputs, paths);
  for (std::size_t j = 0; j < files_.size(); ++j) files_[j] = raster::OutFile::open(paths[j]);
}

void OutputSet::write_band(Output o, const float* band) { files_[o].write_floats(band, npixel_); }

// Whether the series outputs are regular files, no two of them the same.
bool OutputSet::series_are_distinct_files() const {
  struct stat st[kSeries];
  for (std::size_t j = 0; j < kSeries; ++j) {
    const raster::OutFile& f = files_[kSeriesOutputs[j]];
    if (!f.is_regular() || fstat(fileno(f.get()), &st[j]) != 0) return false;
    for (std::size_t i = 0; i < j; ++i) {
      if (st[i].st_dev == st[j].st_dev && st[i].st_ino == st[j].st_ino) return false;
    }
  }
  return true;
}

void OutputSet::start_series(int members) {
  const bool direct = series_are_distinct_files();
  series_.clear();
  for (const Output o : kSeriesOutputs) series_.emplace_back(files_[o], members, direct);
}

void OutputSet::write_series_block(int k, int64_t y, const std::array<const float*, kSeries>& bands,
                                   int64_t p0, int64_t p1) {
  for (std::size_t i = 0; i < kSeries; ++i) {
    const std::size_t j = (i + static_cast<std::size_t>(k)) % kSeries;
    series_[j].write_at(k, bands[j] + p0, (p1 - p0) * 4, (y * npixel_ + p0) * 4);
  }
}

void OutputSet::finish_series_band(const std::array<const float*, kSeries>& bands) {
  for (std::size_t j = 0; j < kSeries; ++j) series_[j].finish_row(bands[j], npixel_);
}

void OutputSet::close() {
  for (raster::OutFile& out : files_) out.close();
}

}  // namespace corvane
