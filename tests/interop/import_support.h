// Support of import's tests: input files made by the field's own tools (ncgen from CDL text,
// cdo, gdal_translate), runs of rastertools-import, and the files it writes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"

namespace imptest {

/// Absolute path of a program found on PATH; throws when it is missing.
std::string on_path(const std::string& name);

/// Runs a program found on PATH in `workdir`; throws with its stderr when it fails.
void run_peer(const std::string& name, const std::vector<std::string>& args,
              const std::string& workdir);

/// Writes `cdl` to NAME.cdl in the folder and makes NAME.nc from it with ncgen (NetCDF-4 unless
/// `classic`). Returns the path of the .nc file.
std::string ncgen(const e2e::TempDir& dir, const std::string& name, const std::string& cdl,
                  bool classic = false);

/// Runs rastertools-import with `args` in the folder.
e2e::Result import(const e2e::TempDir& dir, const std::vector<std::string>& args);

/// The last line of a text (without its newline).
std::string last_line(const std::string& text);

/// Grid file records (lon*100, lat*100).
using Records = std::vector<std::pair<int, int>>;
Records read_grid(const std::string& path);

/// Names each parameterised case after its `name` field, for --gtest_filter.
struct CaseName {
  template <class T>
  std::string operator()(const T& info) const {
    return info.param.name;
  }
};

/// Bit patterns of float values, to compare exactly.
std::vector<uint32_t> bits_of(const std::vector<float>& v);

}  // namespace imptest
