// BandSource for a raw raster file with its sidecar (interop's RawFile, sidecar and grid
// placement).
#include <filesystem>

#include "band_source.h"
#include "rawfile.h"
#include "report.h"
#include "tool.h"

namespace aggregate {

namespace {

using interop::ToolError;
using interop::usage_error;

interop::RasterOptions settled(const std::string& path, const interop::RasterOptions& given,
                               const std::optional<interop::Sidecar>& sidecar) {
  interop::RasterOptions opt = interop::resolve_defaults(path, given, sidecar);
  if (!opt.grid)
    throw usage_error("no grid file for " + path + ": give --grid GRID (or a sidecar " +
                      interop::sidecar_path(path) + " that names one)");
  if (opt.first_year && !opt.bands_per_year)
    throw usage_error("a first year (" + std::to_string(*opt.first_year) + ") for " + path +
                      " needs --bands-per-year to place the bands in time");
  return opt;
}

class RawSource final : public BandSource {
 public:
  RawSource(const std::string& path, const interop::RasterOptions& given, const char* program)
      : name_(path),
        sidecar_(interop::read_sidecar(path)),
        opt_(settled(path, given, sidecar_)),
        grid_(interop::place_grid(*opt_.grid, opt_.res, opt_.convention)),
        raw_(path, *opt_.npixel) {
    if (raw_.bands() == 0)
      throw ToolError(path + " holds no whole band of " + std::to_string(raw_.npixel()) +
                      " pixels");
    if (raw_.leftover() != 0)
      raster::print_tool_warning(program,
                                 "%s: the last %lld bytes make no whole band of %lld pixels and "
                                 "are ignored",
                                 path.c_str(), static_cast<long long>(raw_.leftover()),
                                 static_cast<long long>(raw_.npixel()));
    layout_.npixel = raw_.npixel();
    layout_.nbands = raw_.bands();
    layout_.bands_per_year = opt_.bands_per_year;
    layout_.first_year = opt_.first_year;
    layout_.variable = opt_.variable.value_or("");
    layout_.units = opt_.units;
    layout_.long_name = opt_.long_name;
  }

  const std::string& name() const override { return name_; }
  const BandLayout& layout() const override { return layout_; }
  const interop::PlacedGrid& grid() const override { return grid_; }
  std::vector<std::string> files() const override {
    std::vector<std::string> f{name_, *opt_.grid};
    if (sidecar_) f.push_back(interop::sidecar_path(name_));
    return f;
  }
  void read_bands(int64_t first_band, int64_t count, int64_t pixel_begin, int64_t pixel_end,
                  float* dst) const override {
    const auto n = static_cast<size_t>(pixel_end - pixel_begin);
    for (int64_t b = 0; b < count; ++b)
      raw_.read_pixels(first_band + b, pixel_begin,
                       std::span<float>(dst + static_cast<size_t>(b) * n, n));
  }

 private:
  std::string name_;
  std::optional<interop::Sidecar> sidecar_;
  interop::RasterOptions opt_;
  interop::PlacedGrid grid_;
  interop::RawFile raw_;
  BandLayout layout_;
};

}  // namespace

std::unique_ptr<BandSource> open_raw_source(const std::string& path,
                                            const interop::RasterOptions& given,
                                            const char* program) {
  return std::make_unique<RawSource>(path, given, program);
}

}  // namespace aggregate
