// BandSource for a NetCDF variable, read in-process through the named jobs' input layer
// (jobs_core): its whole years decoded on the threads into a pixel image in memory, its pixels
// by import's rule (the cells with a value in any step read) or a grid file's.
#include <cstring>
#include <filesystem>

#include "band_source.h"
#include "job_input.h"
#include "parallel.h"
#include "tool.h"

namespace aggregate {

namespace {

using interop::usage_error;

// The raw-input options that a NetCDF file answers itself; the time axis ones only when it has
// no time axis.
void refuse_raw_options(const jobs::Input& in, const interop::RasterOptions& given) {
  const auto refuse = [&](bool set, const char* option, const char* why) {
    if (set)
      throw usage_error(std::string(option) + " describes a raw input; " + in.path +
                        " is NetCDF (" + why + ")");
  };
  refuse(given.res.has_value(), "--res", "its coordinates give the resolution");
  refuse(given.convention.has_value(), "--convention", "its coordinates place the cells");
  refuse(given.npixel.has_value(), "--npixel", "its pixels are the cells with a value");
  refuse(given.bands_per_year && in.first_year, "--bands-per-year", "its time axis gives them");
  refuse(given.first_year && in.first_year, "--first-year", "its time axis gives it");
}

std::optional<std::string> unless_empty(const std::string& s) {
  return s.empty() ? std::nullopt : std::optional(s);
}

class NetcdfSource final : public BandSource {
 public:
  NetcdfSource(jobs::Input in, const interop::RasterOptions& given, const char* program)
      : in_(std::move(in)), name_(in_.path + " (variable " + in_.label + ")") {
    refuse_raw_options(in_, given);
    std::optional<jobs::JobGrid> grid;
    if (given.grid) grid = jobs::grid_from_file(*given.grid);
    raster::ThreadTeam team(raster::default_thread_count());
    image_ = jobs::materialise_all(in_, grid, team, program);
    grid_ = std::move(grid->placed);
    grid_file_ = given.grid;
    layout_.npixel = static_cast<int64_t>(grid_.points.size());
    layout_.nbands = in_.nyears * in_.bands_per_year;
    if (in_.first_year) {
      layout_.bands_per_year = in_.bands_per_year;
      layout_.first_year = in_.first_year;
      layout_.calendar = unless_empty(in_.calendar);
    } else {  // every step as one year: the command line may place them
      layout_.bands_per_year = given.bands_per_year;
      layout_.first_year = given.first_year;
    }
    layout_.variable = in_.label;
    layout_.units = unless_empty(in_.units);
    layout_.long_name = unless_empty(in_.long_name);
  }

  const std::string& name() const override { return name_; }
  const BandLayout& layout() const override { return layout_; }
  const interop::PlacedGrid& grid() const override { return grid_; }
  std::vector<std::string> files() const override {
    std::vector<std::string> f{in_.path};
    if (grid_file_) f.push_back(*grid_file_);
    return f;
  }
  void read_bands(int64_t first_band, int64_t count, int64_t pixel_begin, int64_t pixel_end,
                  float* dst) const override {
    const float* image = image_.mem->floats();
    const auto n = static_cast<size_t>(pixel_end - pixel_begin);
    for (int64_t b = 0; b < count; ++b)
      std::memcpy(dst + static_cast<size_t>(b) * n,
                  image + (first_band + b) * layout_.npixel + pixel_begin, n * sizeof(float));
  }

 private:
  jobs::Input in_;
  std::string name_;
  jobs::Image image_;
  interop::PlacedGrid grid_;
  std::optional<std::string> grid_file_;
  BandLayout layout_;
};

}  // namespace

std::unique_ptr<BandSource> open_netcdf_source(const std::string& path, const std::string& var,
                                               const interop::RasterOptions& given,
                                               const char* program) {
  // A missing file is the raw reader's to name (or a vector file's, for --regions).
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return nullptr;
  std::optional<jobs::Input> in = jobs::open_netcdf_input(path, var, program);
  if (!in) return nullptr;
  return std::make_unique<NetcdfSource>(std::move(*in), given, program);
}

std::unique_ptr<BandSource> open_source(const std::string& path, const std::string& var,
                                        const interop::RasterOptions& given, const char* program) {
  if (std::unique_ptr<BandSource> nc = open_netcdf_source(path, var, given, program)) return nc;
  if (!var.empty())
    throw usage_error("variable '" + var + "' asked of " + path +
                      ", which is not NetCDF (a raw raster file holds one variable)");
  return open_raw_source(path, given, program);
}

}  // namespace aggregate
