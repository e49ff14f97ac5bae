#include "step_reader.h"

#include <fcntl.h>
#include <netcdf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <type_traits>

#include "parallel.h"
#include "step_classic.h"
#include "step_decode.h"
#include "step_hdf5.h"
#include "tool.h"

namespace interop {

using stepread::ChunkDecoder;
using stepread::ChunkGeometry;
using stepread::ChunkJob;
using stepread::ChunkPlace;
using stepread::Hdf5Variable;

namespace {

// Steps [first, last) as messages count them, from 1.
std::string steps_text(int64_t first, int64_t last) {
  if (last - first == 1) return "step " + std::to_string(first + 1);
  return "steps " + std::to_string(first + 1) + "-" + std::to_string(last);
}

bool numeric(nc_type t) {
  switch (t) {
    case NC_BYTE:
    case NC_UBYTE:
    case NC_SHORT:
    case NC_USHORT:
    case NC_INT:
    case NC_UINT:
    case NC_INT64:
    case NC_UINT64:
    case NC_FLOAT:
    case NC_DOUBLE:
      return true;
    default:
      return false;
  }
}

uint64_t file_size_of(int fd, const std::string& path) {
  struct stat st {};
  if (fstat(fd, &st) != 0) throw ToolError("cannot read '" + path + "': " + std::strerror(errno));
  return static_cast<uint64_t>(st.st_size);
}

}  // namespace

struct StepReader::Impl {
  StepVariable v;
  int fd = -1;
  int ncid = -1;
  int varid = -1;
  std::vector<int64_t> dims;  // NetCDF lengths of the variable's dimensions
  bool no_fill = false;
  std::unique_ptr<Hdf5Variable> h5;  // NetCDF-4 files: the dataset behind the variable
  std::unique_ptr<stepread::ClassicExtent> classic;  // classic files: where the data lie
  ChunkGeometry geometry;
  std::vector<ChunkDecoder> decoders;  // one per thread of the team

  ~Impl() {
    h5.reset();  // before libnetcdf lets the file go
    if (ncid >= 0) nc_close(ncid);
    if (fd >= 0) close(fd);
  }

  std::string of_variable() const { return "variable '" + v.name + "' of '" + v.path + "'"; }

  void check(int status, const std::string& what) const {
    if (status != NC_NOERR)
      throw ToolError("cannot read " + what + " of " + of_variable() + ": " + nc_strerror(status));
  }

  void open_file(const std::string& path);
  void describe(const std::string& name, const std::vector<int64_t>& fixed);
  void check_classic_size();
  void plan_chunks();

  template <class Out>
  void read(int64_t first, int64_t count, Out* out, raster::ThreadTeam& team);
  template <class Out>
  void read_serial(int64_t first, int64_t end, Out* out);
  template <class Out>
  void read_parallel(int64_t first, int64_t end, Out* out, raster::ThreadTeam& team);
  template <class Out>
  void library_read(int64_t t0, int64_t t1, int64_t r0, int64_t r1, int64_t c0, int64_t c1,
                    Out* dense);
  template <class Out>
  void library_fill(const ChunkJob& job, int64_t out_first, Out* out);
  template <class Out>
  void decode(const std::vector<ChunkJob>& jobs, int64_t out_first, Out* out,
              raster::ThreadTeam& team);

  template <class Fn>
  void for_each_chunk(int64_t first, int64_t end, Fn fn) const;
  void refuse_unwritten(int64_t first, int64_t end) const;
  [[noreturn]] void unwritten(int64_t first, int64_t last) const;
};

void StepReader::Impl::open_file(const std::string& path) {
  v.path = path;
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ToolError("cannot read '" + path + "': " + std::strerror(errno));
  const int status = nc_open(path.c_str(), NC_NOWRITE, &ncid);
  if (status == NC_NOERR) {
    // The chunks are read through `fd`, their places through the path: one file for both.
    struct stat by_fd {
    }, by_path{};
    if (fstat(fd, &by_fd) != 0 || stat(path.c_str(), &by_path) != 0 ||
        by_fd.st_dev != by_path.st_dev || by_fd.st_ino != by_path.st_ino)
      throw ToolError("'" + path + "' was replaced while it was being opened");
    return;
  }
  ncid = -1;
  if (status == NC_ENOTNC) throw ToolError("'" + path + "' is not a NetCDF file");
  // HDF5 refuses a NetCDF-4 file shorter than its superblock says: say so, not "HDF error".
  const std::string problem = status == NC_EHDFERR ? stepread::hdf5_open_problem(path) : "";
  if (problem.rfind("truncated file", 0) == 0)
    throw ToolError("'" + path + "' is cut short (HDF5: " + problem + ")");
  throw ToolError("cannot open '" + path + "' as NetCDF: " + nc_strerror(status) +
                  (problem.empty() ? "" : " (HDF5: " + problem + ")"));
}

// The variable's type, dimensions and held indices, and whether it has a fill value.
void StepReader::Impl::describe(const std::string& name, const std::vector<int64_t>& fixed) {
  v.name = name;
  if (nc_inq_varid(ncid, name.c_str(), &varid) != NC_NOERR)
    throw ToolError("'" + v.path + "' has no variable '" + name + "'");
  nc_type type = NC_NAT;
  int ndims = 0;
  check(nc_inq_var(ncid, varid, nullptr, &type, &ndims, nullptr, nullptr), "the type");
  if (!numeric(type)) throw ToolError(of_variable() + " does not hold numbers");
  v.nc_type = type;
  v.float_values = type == NC_FLOAT;
  std::vector<int> ids(static_cast<size_t>(ndims));
  check(nc_inq_vardimid(ncid, varid, ids.data()), "the dimensions");
  std::string names;
  for (const int id : ids) {
    char dim[NC_MAX_NAME + 1] = {};
    size_t len = 0;
    check(nc_inq_dim(ncid, id, dim, &len), "the dimensions");
    names += (names.empty() ? "" : ", ") + std::string(dim);
    dims.push_back(static_cast<int64_t>(len));
  }
  const auto nfixed = static_cast<int64_t>(fixed.size());
  v.has_steps = ndims == nfixed + 3;
  if (!v.has_steps && ndims != nfixed + 2)
    throw ToolError(of_variable() + " has dimensions (" + names + "): with " +
                    std::to_string(nfixed) + " held indices it should have " +
                    std::to_string(nfixed + 2) + " (rows, columns) or " +
                    std::to_string(nfixed + 3) + " (steps first)");
  const size_t s = v.has_steps ? 1 : 0;
  for (size_t i = 0; i < fixed.size(); ++i)
    if (fixed[i] < 0 || fixed[i] >= dims[s + i])
      throw ToolError("index " + std::to_string(fixed[i]) + " of dimension " +
                      std::to_string(s + i + 1) + " of " + of_variable() +
                      " is out of range: it has " + std::to_string(dims[s + i]));
  v.fixed = fixed;
  v.nsteps = v.has_steps ? dims[0] : 1;
  v.nrows = dims[dims.size() - 2];
  v.ncols = dims.back();
  int nofill = 0;
  check(nc_inq_var_fill(ncid, varid, &nofill, nullptr), "the fill mode");
  no_fill = nofill != 0;
}

// libnetcdf reads a cut classic file as zeros past its end: compare with what the header says,
// when opening and before each read (the file may be cut meanwhile).
void StepReader::Impl::check_classic_size() {
  const stepread::ClassicExtent& e = *classic;
  const uint64_t size = file_size_of(fd, v.path);
  const int64_t cut = e.promised ? e.first_cut_slab(size) : e.nslabs;
  if (cut >= e.nslabs) return;
  const std::string which =
      (v.has_steps ? steps_text(cut, cut + 1) + " (of " + std::to_string(v.nsteps) + ")"
                   : "the data") +
      " of variable '" + v.name + "'";
  throw ToolError("'" + v.path + "' is cut short: it ends at byte " + std::to_string(size) +
                  ", but " + which + " ends at byte " + std::to_string(e.slab_end(cut)));
}

// Which chunks the reader decodes itself, and how a chunk maps onto the steps.
void StepReader::Impl::plan_chunks() {
  const std::vector<int64_t>& c = h5->chunk();
  v.chunk_steps = v.has_steps && !c.empty() ? c[0] : 1;
  if (!h5->why_serial().empty()) {
    v.serial_reason = h5->why_serial();
    return;
  }
  const size_t n = dims.size();
  for (size_t i = v.has_steps ? 1 : 0; i < n; ++i)
    if (h5->extent()[i] != dims[i]) {
      v.serial_reason = "its HDF5 dataset is smaller than the variable";
      return;
    }
  std::vector<int64_t> stride(n, 1);
  for (size_t i = n - 1; i > 0; --i) stride[i - 1] = stride[i] * c[i];
  ChunkGeometry& g = geometry;
  g.elements = stride[0] * c[0];
  g.steps = v.has_steps ? c[0] : 1;
  g.step_stride = v.has_steps ? stride[0] : g.elements;
  const size_t s = v.has_steps ? 1 : 0;
  for (size_t i = s; i + 2 < n; ++i) g.plane_offset += v.fixed[i - s] % c[i] * stride[i];
  g.rows = c[n - 2];
  g.cols = c[n - 1];
  g.nrows = v.nrows;
  g.ncols = v.ncols;
  v.parallel = true;
}

// Calls fn(origin, job) for every chunk that holds a value of steps [first, end), in the order
// of steps, rows and columns.
template <class Fn>
void StepReader::Impl::for_each_chunk(int64_t first, int64_t end, Fn fn) const {
  const std::vector<int64_t>& c = h5->chunk();
  const size_t n = dims.size();
  const size_t s = v.has_steps ? 1 : 0;
  std::vector<int64_t> origin(n, 0);
  for (size_t i = s; i + 2 < n; ++i) origin[i] = v.fixed[i - s] / c[i] * c[i];
  const int64_t ct = v.has_steps ? c[0] : 1;
  for (int64_t t0 = first / ct * ct; t0 < end; t0 += ct) {
    for (int64_t r0 = 0; r0 < v.nrows; r0 += c[n - 2]) {
      for (int64_t c0 = 0; c0 < v.ncols; c0 += c[n - 1]) {
        if (v.has_steps) origin[0] = t0;
        origin[n - 2] = r0;
        origin[n - 1] = c0;
        ChunkJob job;
        job.step0 = t0;
        job.row0 = r0;
        job.col0 = c0;
        job.first = std::max(first, t0);
        job.last = std::min(end, t0 + ct);
        fn(origin, job);
      }
    }
  }
}

void StepReader::Impl::unwritten(int64_t first, int64_t last) const {
  throw ToolError(of_variable() + " holds no values for " + steps_text(first, last) +
                  ": they were never written and the variable has no fill (NoFill)");
}

// Never-written storage of a variable without fill holds no values at all (libnetcdf leaves
// the caller's buffer as it was): refuse it.
void StepReader::Impl::refuse_unwritten(int64_t first, int64_t end) const {
  if (!no_fill || !h5) return;
  if (!h5->allocated()) unwritten(first, end);
  if (h5->chunk().empty()) return;
  const int64_t stored_end = v.has_steps ? std::min(end, h5->extent()[0]) : end;
  for_each_chunk(first, stored_end, [&](const std::vector<int64_t>& origin, const ChunkJob& job) {
    if (!h5->locate(origin).allocated) unwritten(job.first, job.last);
  });
}

template <class Out>
void StepReader::Impl::library_read(int64_t t0, int64_t t1, int64_t r0, int64_t r1, int64_t c0,
                                    int64_t c1, Out* dense) {
  std::vector<size_t> start, count;
  if (v.has_steps) {
    start.push_back(static_cast<size_t>(t0));
    count.push_back(static_cast<size_t>(t1 - t0));
  }
  for (const int64_t f : v.fixed) {
    start.push_back(static_cast<size_t>(f));
    count.push_back(1);
  }
  start.insert(start.end(), {static_cast<size_t>(r0), static_cast<size_t>(c0)});
  count.insert(count.end(), {static_cast<size_t>(r1 - r0), static_cast<size_t>(c1 - c0)});
  int status = NC_NOERR;
  if constexpr (std::is_same_v<Out, float>) {
    status = nc_get_vara_float(ncid, varid, start.data(), count.data(), dense);
  } else {
    status = nc_get_vara_double(ncid, varid, start.data(), count.data(), dense);
  }
  check(status, steps_text(t0, t1));
}

// Steps in blocks of whole chunks, so that libnetcdf decodes each chunk once.
template <class Out>
void StepReader::Impl::read_serial(int64_t first, int64_t end, Out* out) {
  if (classic) check_classic_size();
  refuse_unwritten(first, end);
  for (int64_t b = first; b < end;) {
    const int64_t e = std::min(end, (b / v.chunk_steps + 1) * v.chunk_steps);
    library_read(b, e, 0, v.nrows, 0, v.ncols, out + (b - first) * v.step_size());
    b = e;
  }
}

// A never-written chunk of a variable with fill: libnetcdf gives its fill value.
template <class Out>
void StepReader::Impl::library_fill(const ChunkJob& job, int64_t out_first, Out* out) {
  const int64_t r1 = std::min(job.row0 + geometry.rows, v.nrows);
  const int64_t c1 = std::min(job.col0 + geometry.cols, v.ncols);
  const int64_t w = c1 - job.col0;
  std::vector<Out> box(static_cast<size_t>((job.last - job.first) * (r1 - job.row0) * w));
  library_read(job.first, job.last, job.row0, r1, job.col0, c1, box.data());
  const Out* from = box.data();
  for (int64_t t = job.first; t < job.last; ++t)
    for (int64_t r = job.row0; r < r1; ++r, from += w)
      std::copy(from, from + w, out + ((t - out_first) * v.nrows + r) * v.ncols + job.col0);
}

template <class Out>
void StepReader::Impl::read_parallel(int64_t first, int64_t end, Out* out,
                                     raster::ThreadTeam& team) {
  // Steps past the dataset's current extent (another variable has more records): libnetcdf
  // gives the fill value.
  const int64_t stored_end = v.has_steps ? std::min(end, h5->extent()[0]) : end;
  if (stored_end < end) {
    const int64_t b = std::max(first, stored_end);
    library_read(b, end, 0, v.nrows, 0, v.ncols, out + (b - first) * v.step_size());
  }
  const uint64_t size = file_size_of(fd, v.path);
  std::vector<ChunkJob> jobs;
  for_each_chunk(first, stored_end, [&](const std::vector<int64_t>& origin, ChunkJob job) {
    const ChunkPlace p = h5->locate(origin);
    if (!p.allocated) {
      if (no_fill) unwritten(job.first, job.last);
      library_fill(job, first, out);
      return;
    }
    if (p.addr > size || p.size > size - p.addr)
      throw ToolError("'" + v.path + "' is cut short or damaged: the chunk of variable '" + v.name +
                      "' holding " + steps_text(job.first, job.last) + " lies at bytes " +
                      std::to_string(p.addr) + "-" + std::to_string(p.addr + p.size) +
                      ", the file has " + std::to_string(size) + " bytes");
    job.addr = p.addr;
    job.size = p.size;
    job.filter_mask = p.filter_mask;
    jobs.push_back(job);
  });
  decode(jobs, first, out, team);
}

// The chunks go to the threads one at a time, in order. Of several failures the first chunk's
// is reported, the same on every run: every chunk before a failing one has been taken.
template <class Out>
void StepReader::Impl::decode(const std::vector<ChunkJob>& jobs, int64_t out_first, Out* out,
                              raster::ThreadTeam& team) {
  while (decoders.size() < static_cast<size_t>(team.size())) decoders.emplace_back();
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  size_t failed = jobs.size();
  std::string failure;
  team.run([&](int k) {
    ChunkDecoder& decoder = decoders[static_cast<size_t>(k)];
    while (!stop.load(std::memory_order_relaxed)) {
      const size_t i = next.fetch_add(1);
      if (i >= jobs.size()) return;
      try {
        decoder.decode(fd, h5->format(), geometry, jobs[i], out_first, out);
      } catch (const std::exception& e) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (i < failed) {
          failed = i;
          failure = e.what();
        }
        stop = true;
      }
    }
  });
  if (failed < jobs.size())
    throw ToolError("cannot read " + steps_text(jobs[failed].first, jobs[failed].last) + " of " +
                    of_variable() + ": " + failure);
}

template <class Out>
void StepReader::Impl::read(int64_t first, int64_t count, Out* out, raster::ThreadTeam& team) {
  if (first < 0 || count < 0 || first > v.nsteps - count)
    throw ToolError("cannot read " + std::to_string(count) + " steps from step " +
                    std::to_string(first + 1) + " of " + of_variable() + ": it has " +
                    std::to_string(v.nsteps));
  if (count == 0) return;
  if (v.parallel) {
    read_parallel(first, first + count, out, team);
  } else {
    read_serial(first, first + count, out);
  }
}

StepReader::StepReader(const std::string& path, const std::string& variable,
                       const std::vector<int64_t>& fixed)
    : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.open_file(path);
  m.describe(variable, fixed);
  int format = 0, mode = 0;
  m.check(nc_inq_format_extended(m.ncid, &format, &mode), "the format");
  if (format == NC_FORMATX_NC3) {
    m.v.serial_reason = "classic format (no compression)";
    m.classic =
        std::make_unique<stepread::ClassicExtent>(stepread::classic_extent(m.fd, path, m.varid));
    m.check_classic_size();
  } else if (format == NC_FORMATX_NC_HDF5) {
    std::string why;
    m.h5 = Hdf5Variable::open(path, variable, m.dims, why);
    if (m.h5) {
      m.plan_chunks();
    } else {
      m.v.serial_reason = why;
    }
  } else {
    m.v.serial_reason = "a format read through libnetcdf only";
  }
}

StepReader::~StepReader() = default;

const StepVariable& StepReader::variable() const { return impl_->v; }

void StepReader::read(int64_t first, int64_t count, float* out, raster::ThreadTeam& team) {
  if (!impl_->v.float_values)
    throw std::logic_error("StepReader: " + impl_->of_variable() +
                           " is not stored as float: read it as double");
  impl_->read(first, count, out, team);
}

void StepReader::read(int64_t first, int64_t count, double* out, raster::ThreadTeam& team) {
  impl_->read(first, count, out, team);
}

}  // namespace interop
