// Time series drawn as a PNG with cairo: one line per series, a title, the units, the years
// along the bottom, a legend. Fonts, colours and text fitting are the maps'.
#pragma once

#include <string>
#include <vector>

namespace aggregate {

struct Series {
  std::string name;
  std::vector<double> x;  ///< e.g. years, with fractions for months
  std::vector<double> y;  ///< NaN: no value (the line breaks)
};

struct SeriesPlot {
  std::string title;
  std::string units;
  std::string x_label;  ///< e.g. "year"
  std::vector<Series> series;
};

/// Draws the plot and writes it to `path` (temporary name, renamed when complete).
void write_series_png(const SeriesPlot& plot, const std::string& path);

}  // namespace aggregate
