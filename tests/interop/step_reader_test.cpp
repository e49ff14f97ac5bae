// StepReader against libnetcdf's own reads, bit for bit, on files written here through
// libnetcdf: every storage the reader decodes itself (deflate levels, shuffle, chunk shapes,
// byte orders, never-written chunks, held level indices) and those it leaves to libnetcdf
// (contiguous, fletcher32, classic formats), on one and two threads; then the damaged files
// it must refuse.
#include "step_reader.h"

#include <gtest/gtest.h>
#include <hdf5.h>
#include <libdeflate.h>
#include <netcdf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "e2e.h"
#include "parallel.h"
#include "tool.h"

namespace {

constexpr int64_t kSteps = 30, kRows = 9, kCols = 13, kLevels = 3;

void nc(int status) {
  if (status != NC_NOERR) throw std::runtime_error(nc_strerror(status));
}

enum class Storage { contiguous, step_chunks, year_chunks, series_chunks };

struct Case {
  std::string name;
  int mode = NC_NETCDF4;  // nc_create's format: NC_NETCDF4, 0 (classic), NC_64BIT_OFFSET, ...
  nc_type type = NC_FLOAT;
  Storage storage = Storage::step_chunks;
  int deflate = 0;  // level; 0: none
  bool shuffle = false;
  bool unlimited = true;
  bool partial = false;  // steps 11-24 and a block of cells never written; steps 31-34 beyond
  bool big_endian = false;
  bool fletcher32 = false;
  int64_t level = -1;  // >= 0: a level dimension, held at this index
  bool no_time = false;
  bool no_fill = false;
  bool parallel = true;  // decoded by the reader itself
};

// Stored values: a smooth field with noise, every 7th value one of the edge cases of its type.
double field(int64_t t, int64_t r, int64_t c) {
  uint64_t h = static_cast<uint64_t>((t * 131 + r) * 137 + c) * 0x9e3779b97f4a7c15ULL;
  h ^= h >> 29;
  return 280.0 + 20.0 * static_cast<double>(r) / kRows + static_cast<double>(h % 1000) / 997.0;
}

template <class T>
std::vector<T> edge_cases() {
  if constexpr (std::is_same_v<T, float>) {
    std::vector<T> v;
    for (const uint32_t b : {0x7fc12345u, 0x7f800001u, 0xffc00007u, 0x80000000u, 0x7f800000u,
                             0xff800000u, 0x00000001u, 0x7f7fffffu}) {
      float f;
      std::memcpy(&f, &b, 4);
      v.push_back(f);
    }
    v.push_back(NC_FILL_FLOAT);
    return v;
  } else if constexpr (std::is_same_v<T, double>) {
    std::vector<T> v;
    for (const uint64_t b : {0x7ff8000000012345ull, 0x7ff0000000000001ull, 0x8000000000000000ull,
                             0xfff0000000000000ull, 0x0000000000000001ull}) {
      double d;
      std::memcpy(&d, &b, 8);
      v.push_back(d);
    }
    v.push_back(NC_FILL_DOUBLE);
    return v;
  } else {
    return {std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), T(0), T(-1)};
  }
}

template <class T>
std::vector<T> step_values(int64_t t, int64_t nlev) {
  const std::vector<T> edges = edge_cases<T>();
  std::vector<T> v(static_cast<size_t>(nlev * kRows * kCols));
  for (size_t i = 0; i < v.size(); ++i) {
    const auto r = static_cast<int64_t>(i) / kCols % kRows, c = static_cast<int64_t>(i) % kCols;
    v[i] = (i + static_cast<size_t>(t)) % 7 == 0
               ? edges[(i / 7 + static_cast<size_t>(t)) % edges.size()]
               : static_cast<T>(field(t, r, c));
  }
  return v;
}

struct File {
  std::string path;
  std::vector<int64_t> fixed;
};

class Writer {
 public:
  Writer(const Case& c, const std::string& path) : c_(c) {
    nc(nc_create(path.c_str(), NC_CLOBBER | c.mode, &id_));
    std::vector<int> dims;
    if (!c.no_time) dims.push_back(dim("time", c.unlimited ? NC_UNLIMITED : kSteps));
    if (c.level >= 0) dims.push_back(dim("lev", kLevels));
    dims.push_back(dim("lat", kRows));
    dims.push_back(dim("lon", kCols));
    nc(nc_def_var(id_, "v", c.type, static_cast<int>(dims.size()), dims.data(), &var_));
    if (c.mode & NC_NETCDF4) storage(dims.size());
    if (c.partial && c.unlimited)
      nc(nc_def_var(id_, "other", NC_FLOAT, static_cast<int>(dims.size()), dims.data(), &other_));
    nc(nc_enddef(id_));
  }
  ~Writer() {
    if (id_ >= 0) nc_close(id_);
  }
  void close() {
    nc(nc_close(id_));
    id_ = -1;
  }

  template <class T>
  void write() {
    const int64_t nlev = c_.level >= 0 ? kLevels : 1;
    for (int64_t t = 0; t < (c_.no_time ? 1 : kSteps); ++t) {
      if (c_.partial && t >= 10 && t < 24) continue;
      const std::vector<T> v = step_values<T>(t, nlev);
      for (int64_t l = 0; l < nlev; ++l)
        for (int64_t r = 0; r < kRows; ++r)
          for (const auto& [c0, c1] : row_parts(r))
            put(var_, t, l, r, c0, c1, v.data() + (l * kRows + r) * kCols + c0);
    }
    if (other_ >= 0) {
      const std::vector<float> v = step_values<float>(0, nlev);
      for (int64_t l = 0; l < nlev; ++l)
        for (int64_t r = 0; r < kRows; ++r)
          put(other_, kSteps + 3, l, r, 0, kCols, v.data() + (l * kRows + r) * kCols);
    }
  }

 private:
  int dim(const char* name, int64_t len) {
    int d = -1;
    nc(nc_def_dim(id_, name, static_cast<size_t>(len), &d));
    return d;
  }

  void storage(size_t ndims) {
    if (c_.storage == Storage::contiguous) {
      nc(nc_def_var_chunking(id_, var_, NC_CONTIGUOUS, nullptr));
    } else {
      std::vector<size_t> chunk;
      const bool year = c_.storage == Storage::year_chunks;
      const bool series = c_.storage == Storage::series_chunks;
      if (!c_.no_time) chunk.push_back(year ? 12 : series ? kSteps : 1);
      if (c_.level >= 0) chunk.push_back(year ? 2 : series ? kLevels : 1);
      chunk.push_back(year ? 5 : series ? 4 : kRows);
      chunk.push_back(year ? 7 : series ? 5 : kCols);
      if (chunk.size() != ndims) throw std::logic_error("chunk rank");
      nc(nc_def_var_chunking(id_, var_, NC_CHUNKED, chunk.data()));
    }
    if (c_.fletcher32) nc(nc_def_var_fletcher32(id_, var_, NC_FLETCHER32));
    if (c_.deflate > 0 || c_.shuffle)
      nc(nc_def_var_deflate(id_, var_, c_.shuffle, c_.deflate > 0, c_.deflate));
    if (c_.big_endian) nc(nc_def_var_endian(id_, var_, NC_ENDIAN_BIG));
    if (c_.no_fill) nc(nc_def_var_fill(id_, var_, NC_NOFILL, nullptr));
  }

  // Column ranges of row r that are written: all, or around the block never written.
  std::vector<std::pair<int64_t, int64_t>> row_parts(int64_t r) const {
    if (!c_.partial || r < 4 || r >= 8) return {{0, kCols}};
    return {{0, 5}, {10, kCols}};
  }

  // Values of the variable's own type, one row segment (nc_put_vara takes them as they are).
  void put(int var, int64_t t, int64_t l, int64_t r, int64_t c0, int64_t c1, const void* v) {
    std::vector<size_t> start, count;
    if (!c_.no_time) start.push_back(static_cast<size_t>(t)), count.push_back(1);
    if (c_.level >= 0) start.push_back(static_cast<size_t>(l)), count.push_back(1);
    start.insert(start.end(), {static_cast<size_t>(r), static_cast<size_t>(c0)});
    count.insert(count.end(), {1, static_cast<size_t>(c1 - c0)});
    nc(nc_put_vara(id_, var, start.data(), count.data(), v));
  }

  const Case& c_;
  int id_ = -1, var_ = -1, other_ = -1;
};

File make_file(const e2e::TempDir& dir, const Case& c) {
  File f{dir.file(c.name + ".nc"), {}};
  if (c.level >= 0) f.fixed = {c.level};
  Writer w(c, f.path);
  switch (c.type) {
    case NC_FLOAT:
      w.write<float>();
      break;
    case NC_DOUBLE:
      w.write<double>();
      break;
    case NC_SHORT:
      w.write<int16_t>();
      break;
    case NC_INT:
      w.write<int32_t>();
      break;
    default:
      w.write<int8_t>();
      break;
  }
  w.close();
  return f;
}

// libnetcdf's values of steps [first, first + count), held indices as the reader holds them.
template <class Out>
std::vector<Out> library_values(const File& f, int64_t first, int64_t count, bool no_time) {
  int id = -1, var = -1;
  nc(nc_open(f.path.c_str(), NC_NOWRITE, &id));
  nc(nc_inq_varid(id, "v", &var));
  std::vector<size_t> start, cnt;
  if (!no_time)
    start.push_back(static_cast<size_t>(first)), cnt.push_back(static_cast<size_t>(count));
  for (const int64_t l : f.fixed) start.push_back(static_cast<size_t>(l)), cnt.push_back(1);
  start.insert(start.end(), {0, 0});
  cnt.insert(cnt.end(), {static_cast<size_t>(kRows), static_cast<size_t>(kCols)});
  std::vector<Out> v(static_cast<size_t>(count * kRows * kCols));
  int status = NC_NOERR;
  if constexpr (std::is_same_v<Out, float>)
    status = nc_get_vara_float(id, var, start.data(), cnt.data(), v.data());
  if constexpr (std::is_same_v<Out, double>)
    status = nc_get_vara_double(id, var, start.data(), cnt.data(), v.data());
  nc_close(id);
  nc(status);
  return v;
}

template <class Out>
std::vector<Out> reader_values(interop::StepReader& r, int64_t first, int64_t count, int threads) {
  raster::ThreadTeam team(threads);
  std::vector<Out> v(static_cast<size_t>(count * r.variable().step_size()));
  r.read(first, count, v.data(), team);
  return v;
}

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// Every step alone, all steps at once, and a block across chunk boundaries, on 1 and 2 threads.
template <class Out>
void expect_library_values(interop::StepReader& r, const File& f, bool no_time) {
  const int64_t n = r.variable().nsteps;
  std::vector<std::pair<int64_t, int64_t>> reads{{0, n}};
  if (n > 22) reads.emplace_back(5, 17);
  for (int64_t t = 0; t < n; ++t) reads.emplace_back(t, 1);
  for (const int threads : {1, 2})
    for (const auto& [first, count] : reads)
      EXPECT_TRUE(same_bits(reader_values<Out>(r, first, count, threads),
                            library_values<Out>(f, first, count, no_time)))
          << "steps " << first << "+" << count << ", " << threads << " threads";
}

class StepReaderValues : public testing::TestWithParam<Case> {};

TEST_P(StepReaderValues, EqualLibraryReadsBitForBit) {
  const Case& c = GetParam();
  e2e::TempDir dir;
  const File f = make_file(dir, c);
  interop::StepReader r(f.path, "v", f.fixed);
  const interop::StepVariable& v = r.variable();
  EXPECT_EQ(v.parallel, c.parallel) << v.serial_reason;
  EXPECT_EQ(v.nsteps, c.no_time ? 1 : c.partial && c.unlimited ? kSteps + 4 : kSteps);
  EXPECT_EQ(v.nrows, kRows);
  EXPECT_EQ(v.ncols, kCols);
  if (c.type == NC_FLOAT) expect_library_values<float>(r, f, c.no_time);
  expect_library_values<double>(r, f, c.no_time);
  // The edge cases reach the comparison: written values come back through libnetcdf.
  if (c.type == NC_FLOAT && !c.partial) {
    const int64_t t = c.no_time ? 0 : 3, l = std::max<int64_t>(c.level, 0);
    const std::vector<float> all = step_values<float>(t, c.level >= 0 ? kLevels : 1);
    const std::vector<float> step(all.begin() + l * kRows * kCols,
                                  all.begin() + (l + 1) * kRows * kCols);
    EXPECT_TRUE(same_bits(library_values<float>(f, t, 1, c.no_time), step));
  }
}

// clang-format off
const Case kCases[] = {
    {.name = "f32_deflate1_step_chunks", .deflate = 1},
    {.name = "f32_deflate5_shuffle_step_chunks_fixed_time", .deflate = 5, .shuffle = true, .unlimited = false},
    {.name = "f32_deflate5_shuffle_year_chunks", .storage = Storage::year_chunks, .deflate = 5, .shuffle = true},
    {.name = "f32_deflate1_shuffle_series_chunks", .storage = Storage::series_chunks, .deflate = 1, .shuffle = true, .unlimited = false},
    {.name = "f32_partial_step_chunks", .deflate = 5, .shuffle = true, .partial = true},
    {.name = "f32_partial_year_chunks", .storage = Storage::year_chunks, .deflate = 1, .partial = true},
    {.name = "f32_partial_series_chunks_fixed_time", .storage = Storage::series_chunks, .deflate = 5, .shuffle = true, .unlimited = false, .partial = true},
    {.name = "f32_big_endian", .storage = Storage::year_chunks, .deflate = 5, .shuffle = true, .big_endian = true},
    {.name = "f32_chunks_unfiltered", .storage = Storage::year_chunks},
    {.name = "f32_shuffle_only", .shuffle = true},
    {.name = "f32_level_year_chunks", .storage = Storage::year_chunks, .deflate = 5, .shuffle = true, .level = 1},
    {.name = "f32_level_edge_series_chunks", .storage = Storage::series_chunks, .deflate = 1, .level = 2},
    {.name = "f32_no_time", .storage = Storage::year_chunks, .deflate = 5, .shuffle = true, .no_time = true},
    {.name = "f32_netcdf4_classic_model", .mode = NC_NETCDF4 | NC_CLASSIC_MODEL, .deflate = 5, .shuffle = true},
    {.name = "f64_deflate5_shuffle_step_chunks", .type = NC_DOUBLE, .deflate = 5, .shuffle = true},
    {.name = "f64_deflate1_year_chunks_big_endian", .type = NC_DOUBLE, .storage = Storage::year_chunks, .deflate = 1, .big_endian = true},
    {.name = "i16_deflate5_shuffle_year_chunks", .type = NC_SHORT, .storage = Storage::year_chunks, .deflate = 5, .shuffle = true},
    {.name = "i16_partial_series_chunks", .type = NC_SHORT, .storage = Storage::series_chunks, .deflate = 1, .partial = true},
    {.name = "i16_level_step_chunks", .type = NC_SHORT, .deflate = 5, .shuffle = true, .level = 2},
    {.name = "i32_deflate5_shuffle_step_chunks", .type = NC_INT, .deflate = 5, .shuffle = true},
    {.name = "i8_deflate1_year_chunks", .type = NC_BYTE, .storage = Storage::year_chunks, .deflate = 1},
    // Left to libnetcdf.
    {.name = "f32_contiguous", .storage = Storage::contiguous, .unlimited = false, .parallel = false},
    {.name = "f32_fletcher32", .deflate = 5, .shuffle = true, .fletcher32 = true, .parallel = false},
    {.name = "f32_classic_partial", .mode = 0, .partial = true, .parallel = false},
    {.name = "i16_classic_fixed_time", .mode = 0, .type = NC_SHORT, .unlimited = false, .parallel = false},
    {.name = "f64_64bit_offset", .mode = NC_64BIT_OFFSET, .type = NC_DOUBLE, .parallel = false},
    {.name = "f32_cdf5_level", .mode = NC_64BIT_DATA, .level = 1, .parallel = false},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Files, StepReaderValues, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

// A plain HDF5 file (libnetcdf names its dimensions phony_dim_N), chunked, shuffled and
// deflated, with or without a user block before the HDF5 data: HDF5's addresses then do not
// count from the file's start, and the reader leaves the file to libnetcdf.
std::string hdf5_file(const e2e::TempDir& dir, hsize_t userblock) {
  const std::string path = dir.file("plain" + std::to_string(userblock) + ".h5");
  const auto ok = [](herr_t e) {
    if (e < 0) throw std::runtime_error("HDF5 failed");
  };
  const hid_t fcpl = H5Pcreate(H5P_FILE_CREATE), dcpl = H5Pcreate(H5P_DATASET_CREATE);
  ok(H5Pset_userblock(fcpl, userblock));
  const hid_t f = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, fcpl, H5P_DEFAULT);
  const hsize_t dims[3] = {kSteps, kRows, kCols}, chunk[3] = {1, kRows, kCols};
  const hid_t space = H5Screate_simple(3, dims, nullptr);
  ok(H5Pset_chunk(dcpl, 3, chunk));
  ok(H5Pset_shuffle(dcpl));
  ok(H5Pset_deflate(dcpl, 1));
  const hid_t d = H5Dcreate2(f, "v", H5T_IEEE_F32LE, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
  std::vector<float> v;
  for (int64_t t = 0; t < kSteps; ++t) {
    const std::vector<float> step = step_values<float>(t, 1);
    v.insert(v.end(), step.begin(), step.end());
  }
  ok(H5Dwrite(d, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, v.data()));
  ok(H5Dclose(d));
  ok(H5Sclose(space));
  ok(H5Pclose(dcpl));
  ok(H5Pclose(fcpl));
  ok(H5Fclose(f));
  return path;
}

TEST(StepReaderPlainHdf5, UserBlockLeftToLibnetcdf) {
  e2e::TempDir dir;
  for (const hsize_t userblock : {0, 512}) {
    const File f{hdf5_file(dir, userblock), {}};
    interop::StepReader r(f.path, "v");
    EXPECT_EQ(r.variable().parallel, userblock == 0) << r.variable().serial_reason;
    expect_library_values<float>(r, f, false);
  }
}

// --- Damaged files and bad requests ---

// The file place of the chunk that starts at `origin` of variable v, through HDF5.
std::pair<uint64_t, uint64_t> chunk_bytes(const std::string& path, std::vector<hsize_t> origin) {
  const hid_t f = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  const hid_t d = H5Dopen2(f, "v", H5P_DEFAULT);
  unsigned mask = 0;
  haddr_t addr = HADDR_UNDEF;
  hsize_t size = 0;
  const herr_t e = H5Dget_chunk_info_by_coord(d, origin.data(), &mask, &addr, &size);
  H5Dclose(d);
  H5Fclose(f);
  if (e < 0 || addr == HADDR_UNDEF) throw std::runtime_error("no chunk");
  return {addr, size};
}

void patch(const std::string& path, uint64_t at, const std::string& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(at));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot patch " + path);
}

// Runs `body`, which must throw a ToolError whose message holds every part of `parts`.
template <class Body>
void expect_refusal(Body body, const std::vector<std::string>& parts) {
  try {
    body();
    ADD_FAILURE() << "no error; expected: " << parts[0];
  } catch (const interop::ToolError& e) {
    for (const std::string& p : parts)
      EXPECT_NE(std::string(e.what()).find(p), std::string::npos) << e.what() << "\nlacks: " << p;
  }
}

constexpr int64_t kStepFloats = kRows * kCols;
constexpr uint64_t kChunkBytes = kStepFloats * 4;  // a (1, lat, lon) float chunk

enum class Damage {
  cut_classic_tail,
  cut_classic_middle,
  cut_inside_chunk,
  cut_before_last_chunk,
  corrupt_chunk,
  short_chunk,
  chunk_past_end,
  two_corrupt_chunks
};

struct DamageCase {
  std::string name;
  Case file;
  Damage damage;
  bool refused_at_open;
  std::vector<std::string> message;  // parts of the message (the file's path is checked too)
};

// Step 8's chunk (index 7) of a (1, lat, lon)-chunked float file, deflated and shuffled.
const Case kDeflated{.name = "in", .deflate = 5, .shuffle = true};
const Case kClassic{.name = "in", .mode = 0};
const std::vector<hsize_t> kStep8{7, 0, 0};

void damage(const std::string& path, Damage d) {
  const auto size = static_cast<uint64_t>(std::filesystem::file_size(path));
  switch (d) {
    case Damage::cut_classic_tail:
      return std::filesystem::resize_file(path, size - 100);
    case Damage::cut_classic_middle:  // 30 records of 468 bytes end the file: cut inside the 14th
      return std::filesystem::resize_file(path, size - 16 * kChunkBytes - 10);
    case Damage::cut_inside_chunk: {
      const auto [addr, bytes] = chunk_bytes(path, {kSteps - 1, 0, 0});
      return std::filesystem::resize_file(path, addr + bytes / 2);
    }
    case Damage::cut_before_last_chunk:
      return std::filesystem::resize_file(path, chunk_bytes(path, {kSteps - 1, 0, 0}).first);
    case Damage::two_corrupt_chunks:
      patch(path, chunk_bytes(path, {20, 0, 0}).first + 20, std::string(16, '\x5a'));
      [[fallthrough]];
    case Damage::corrupt_chunk:
      return patch(path, chunk_bytes(path, kStep8).first + 20, std::string(16, '\x5a'));
    case Damage::short_chunk: {
      // A sound zlib stream of half a chunk in place of step 8's.
      const std::string half(kChunkBytes / 2, '\x11');
      std::string z(256, '\0');
      libdeflate_compressor* c = libdeflate_alloc_compressor(5);
      z.resize(libdeflate_zlib_compress(c, half.data(), half.size(), z.data(), z.size()));
      libdeflate_free_compressor(c);
      if (z.empty() || z.size() > chunk_bytes(path, kStep8).second) throw std::logic_error("zlib");
      return patch(path, chunk_bytes(path, kStep8).first, z);
    }
    case Damage::chunk_past_end: {
      // The chunk index (a version-1 B-tree, no checksum) points step 8 past the end.
      const uint64_t addr = chunk_bytes(path, kStep8).first;
      std::string le(8, '\0'), far(8, '\0');
      for (int i = 0; i < 8; ++i) {
        le[static_cast<size_t>(i)] = static_cast<char>(addr >> (8 * i));
        far[static_cast<size_t>(i)] = static_cast<char>((size + 4096) >> (8 * i));
      }
      const std::string all = e2e::read_bytes(path);
      const size_t at = all.find(le);
      if (at == std::string::npos || all.find(le, at + 1) != std::string::npos)
        throw std::logic_error("the chunk's address is not in the file exactly once");
      return patch(path, at, far);
    }
  }
}

class StepReaderDamage : public testing::TestWithParam<DamageCase> {};

TEST_P(StepReaderDamage, IsRefusedNamingFileVariableAndStep) {
  const DamageCase& c = GetParam();
  e2e::TempDir dir;
  const File f = make_file(dir, c.file);
  damage(f.path, c.damage);
  std::vector<std::string> parts = c.message;
  parts.push_back("'" + f.path + "'");
  if (c.refused_at_open) {
    expect_refusal([&] { interop::StepReader r(f.path, "v"); }, parts);
    return;
  }
  interop::StepReader r(f.path, "v");
  ASSERT_TRUE(r.variable().parallel);
  // The steps before the damage still read as libnetcdf reads them.
  EXPECT_TRUE(same_bits(reader_values<float>(r, 0, 7, 2), library_values<float>(f, 0, 7, false)));
  for (const int threads : {1, 2})
    expect_refusal([&] { reader_values<float>(r, 0, kSteps, threads); }, parts);
}

const DamageCase kDamage[] = {
    {"classic_cut_in_last_step",
     kClassic,
     Damage::cut_classic_tail,
     true,
     {"is cut short", "ends at byte", "step 30 (of 30) of variable 'v' ends at byte"}},
    {"classic_cut_in_step_14",
     kClassic,
     Damage::cut_classic_middle,
     true,
     {"is cut short", "step 14 (of 30) of variable 'v'"}},
    {"netcdf4_cut_inside_a_chunk",
     kDeflated,
     Damage::cut_inside_chunk,
     true,
     {"is cut short (HDF5: truncated file"}},
    {"netcdf4_cut_before_the_last_chunk",
     kDeflated,
     Damage::cut_before_last_chunk,
     true,
     {"is cut short (HDF5: truncated file"}},
    {"corrupt_deflate_data",
     kDeflated,
     Damage::corrupt_chunk,
     false,
     {"cannot read step 8 of variable 'v'", "inflate"}},
    {"first_of_two_corrupt_chunks",
     kDeflated,
     Damage::two_corrupt_chunks,
     false,
     {"cannot read step 8 of variable 'v'", "inflate"}},
    {"chunk_inflating_to_half_its_size",
     kDeflated,
     Damage::short_chunk,
     false,
     {"cannot read step 8 of", "inflates to " + std::to_string(kChunkBytes / 2) +
                                   " bytes, not the " + std::to_string(kChunkBytes)}},
    {"chunk_past_the_end",
     kDeflated,
     Damage::chunk_past_end,
     false,
     {"is cut short or damaged: the chunk of variable 'v' holding step 8 lies at bytes"}},
};

INSTANTIATE_TEST_SUITE_P(Files, StepReaderDamage, testing::ValuesIn(kDamage),
                         [](const testing::TestParamInfo<DamageCase>& i) { return i.param.name; });

// What libnetcdf itself makes of the damage: a cut classic file reads as zeros without an error
// (the reason for the size check), a corrupt chunk is an error. (A chunk of valid data but half
// its size makes HDF5 1.10.8 copy from beyond its buffer: not tried here.)
TEST(StepReaderDamage, LibraryOnTheSameDamage) {
  e2e::TempDir dir;
  const File cut = make_file(dir, kClassic);
  damage(cut.path, Damage::cut_classic_tail);
  EXPECT_EQ(e2e::bits(library_values<float>(cut, kSteps - 1, 1, false).back()), 0u);
  const File corrupt = make_file(dir, {.name = "corrupt", .deflate = 5, .shuffle = true});
  damage(corrupt.path, Damage::corrupt_chunk);
  EXPECT_THROW(library_values<float>(corrupt, 7, 1, false), std::runtime_error);
}

// Never-written chunks of a variable without fill: libnetcdf leaves the caller's buffer as it
// was; the reader refuses, whether it decodes the chunks itself or leaves them to libnetcdf.
TEST(StepReaderRefusals, UnwrittenStepsWithoutFill) {
  e2e::TempDir dir;
  for (const bool fletcher32 : {false, true}) {
    const File f = make_file(dir, {.name = fletcher32 ? "f" : "p",
                                   .deflate = 1,
                                   .partial = true,
                                   .fletcher32 = fletcher32,
                                   .no_fill = true});
    interop::StepReader r(f.path, "v");
    EXPECT_EQ(r.variable().parallel, !fletcher32);
    EXPECT_TRUE(
        same_bits(reader_values<float>(r, 0, 10, 2), library_values<float>(f, 0, 10, false)));
    expect_refusal([&] { reader_values<float>(r, 8, 10, 2); },
                   {"variable 'v' of '" + f.path + "' holds no values for step 11", "never written",
                    "no fill"});
  }
}

// A file cut while a reader has it open: the next read refuses it.
TEST(StepReaderRefusals, FileCutAfterOpening) {
  e2e::TempDir dir;
  for (const Damage d : {Damage::cut_classic_middle, Damage::cut_before_last_chunk}) {
    const File f = make_file(dir, d == Damage::cut_classic_middle ? kClassic : kDeflated);
    interop::StepReader r(f.path, "v");
    damage(f.path, d);
    expect_refusal([&] { reader_values<float>(r, 0, kSteps, 2); },
                   {"'" + f.path + "' is cut short", "step"});
  }
}

TEST(StepReaderRefusals, BadRequestsNameWhatIsWrong) {
  e2e::TempDir dir;
  const File f = make_file(dir, {.name = "lev", .type = NC_SHORT, .level = 0});
  const std::string of = "variable 'v' of '" + f.path + "'";
  expect_refusal([&] { interop::StepReader r(f.path, "w", {0}); },
                 {"'" + f.path + "' has no variable 'w'"});
  expect_refusal(
      [&] { interop::StepReader r(f.path, "v"); },
      {of + " has dimensions (time, lev, lat, lon): with 0 held indices it should have 2"});
  expect_refusal([&] { interop::StepReader r(f.path, "v", {3}); },
                 {"index 3 of dimension 2 of " + of + " is out of range: it has 3"});
  interop::StepReader r(f.path, "v", {2});
  expect_refusal([&] { reader_values<double>(r, 25, 6, 1); },
                 {"cannot read 6 steps from step 26 of " + of + ": it has 30"});
  expect_refusal([&] { reader_values<double>(r, -1, 1, 1); }, {"it has 30"});
  EXPECT_THROW(reader_values<float>(r, 0, 1, 1), std::logic_error);
  e2e::write_bytes(dir.file("text.nc"), "not a NetCDF file\n");
  expect_refusal([&] { interop::StepReader t(dir.file("text.nc"), "v"); },
                 {"'" + dir.file("text.nc") + "' is not a NetCDF file"});
  expect_refusal([&] { interop::StepReader t(dir.file("none.nc"), "v"); },
                 {"cannot read '" + dir.file("none.nc") + "': No such file"});
}

}  // namespace
