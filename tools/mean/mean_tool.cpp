// The run of `mean`: the command line, the files, and the work split over threads.
//
// The pixels are cut into tiles, and one work item is one band of one tile: its sums over the
// years, its mean and, with "-sd", at once its squared deviations over the years (from the
// rows kept in memory where they fit, otherwise read again while they are still in the cache)
// and its deviation. Threads take the items in order, bands first, each reading its tile's
// values by position (the pixel-block schedule of utilfunc). Every value depends on its own
// pixel and band only and receives its terms in the order of one sweep over the file (the
// years in order, the mean, then the squared deviations in year order), so the output bytes
// are the same whichever thread takes which item and however many threads there are. The
// annual mean of a tile is taken by the thread that finishes the tile's last band, band by
// band in order. Memory is the output and at most one year of input.
#include "mean_tool.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "utilfunc.h"

namespace meantool {

namespace {

[[noreturn]] void usage(const char* progname) {
  raster::fail_exact(
      "Use:\n%s ifile ofile npixel startyear endyear nbandsyear [-gm][-sd] \n"
      "calculates monthly means/standard deviation(sd), annual mean (gm)\n",
      progname);
}

/// Pixels of a tile at most: each band segment of a tile is one read of up to 128 KiB.
constexpr int64_t kMaxTile = 32768;
/// Pixels of a tile at least for "-sd" to keep a tile's band of every year in memory between
/// its two passes (smaller reads would cost more than reading the years again).
constexpr int64_t kMinKeptTile = 8192;
/// Years read before their values are added, so that a block of sums stays in the first-level
/// cache while several years pass over it.
constexpr int64_t kYearsPerRead = 2;
/// Pixels below which another thread is not worth starting.
constexpr int64_t kPixelsPerThread = 4096;
/// Tile boundaries fall on multiples of 16 pixels (64 bytes).
constexpr int64_t kAlign = 16;
/// Every part of the working memory starts on a page of its own.
constexpr int64_t kPage = 4096;

/// The shape of a run: the tiles, what a thread's read buffer holds, and the output's layout.
struct Plan {
  int64_t npixel = 0;
  int64_t nbands = 0;
  int64_t nyear = 0;
  int64_t stride = 1;   ///< output bands per input band: 2 with "-sd"
  int64_t nvalues = 0;  ///< values of one year
  int64_t nout = 0;     ///< values of the output
  int nthreads = 1;
  bool keep = false;  ///< "-sd" keeps a tile's band of every year between its two passes
  int64_t ntiles = 0;
  int64_t tile_len = 0;        ///< pixels of the longest tile: the row length of a read buffer
  int64_t years_per_read = 1;  ///< years read at once
  int64_t rows = 1;            ///< rows of a read buffer, one per year

  int64_t tile_begin(int64_t t) const {
    return raster::block_begin(npixel, static_cast<int>(ntiles), static_cast<int>(t), kAlign);
  }
};

// Tiles of at most kMaxTile pixels, as many as a multiple of the threads. With "-sd", where
// the band of a tile for every year fits, for all threads together, into the memory of one
// year of input, tiles are made that small and each thread keeps its rows between the two
// passes; otherwise the second pass reads them again, while they are still in the cache.
Plan plan_run(const Args& a, int64_t nyear) {
  Plan p;
  p.npixel = a.npixel;
  p.nbands = a.nbandsyear;
  p.nyear = nyear;
  p.stride = a.sd ? 2 : 1;
  p.nvalues = raster::alloc_count({p.npixel, p.nbands});
  p.nthreads = raster::threads_for(p.npixel, kPixelsPerThread, raster::default_thread_count());
  const int64_t kept_tile =
      a.sd ? std::min(kMaxTile, p.nvalues / p.nthreads / nyear - 2 * kAlign) : int64_t{0};
  p.keep = kept_tile >= kMinKeptTile;
  const int64_t max_tile = p.keep ? kept_tile : kMaxTile;
  p.ntiles = std::max<int64_t>((p.npixel + max_tile - 1) / max_tile, p.nthreads);
  p.ntiles = (p.ntiles + p.nthreads - 1) / p.nthreads * p.nthreads;
  for (int64_t t = 0; t < p.ntiles; ++t) {
    p.tile_len = std::max(p.tile_len, p.tile_begin(t + 1) - p.tile_begin(t));
  }
  // Never more rows than one year of input holds, for all threads together.
  p.years_per_read =
      std::max<int64_t>(1, std::min({nyear, kYearsPerRead, p.nvalues / (p.nthreads * p.tile_len)}));
  p.rows = p.keep ? nyear : p.years_per_read;
  const int64_t noutbands = p.nbands * p.stride + (a.gm ? 1 : 0);
  p.nout = raster::alloc_count({noutbands, p.npixel});
  return p;
}

/// All working memory of a run in one mapping: the output values, one read buffer per thread
/// and the work counters (tiles finished per band, bands finished per tile), each on pages of
/// its own. It is rounded up to whole huge pages where that keeps it within the memory of the
/// output and one year of input. Fresh pages read as zeros, so the counters start at 0 and
/// cost nothing until used. A failed mapping ends the run with "Error allocating memory".
raster::Workspace map_workspace(const Plan& p) {
  std::vector<int64_t> parts = {raster::alloc_count({p.nout}, 4) * 4};
  const int64_t read_bytes = raster::alloc_count({p.rows, p.tile_len}, 4) * 4;
  parts.insert(parts.end(), static_cast<std::size_t>(p.nthreads), read_bytes);
  parts.push_back(raster::alloc_count({p.nbands + p.ntiles}, 4) * 4);
  int64_t limit = 0;
  if (__builtin_add_overflow(p.nout, p.nvalues, &limit) ||
      __builtin_mul_overflow(limit, 4, &limit)) {
    limit = INT64_MAX;
  }
  raster::Workspace work;
  if (!work.map(parts, kPage, limit)) raster::failu("Error allocating memory\n");
  return work;
}

/// The statistics of one run over its work items; member 0 writes complete bands out early.
class MeanRun {
 public:
  MeanRun(const Args& a, const Plan& p, const raster::Workspace& work, int fd)
      : a_(a),
        p_(p),
        reader_(fd, p.npixel),
        outv_(work.part<float>(0)),
        work_(work),
        tiles_done_(work.part<int32_t>(1 + static_cast<std::size_t>(p.nthreads))),
        bands_done_(tiles_done_ + p.nbands) {}

  /// Runs every item on the team; false when a year could not be read whole.
  bool compute(raster::ThreadTeam& team, raster::InOrderWriter* early) {
    const int64_t nitems = p_.ntiles * p_.nbands;
    team.run([&](int k) {
      float* const buf = work_.part<float>(1 + static_cast<std::size_t>(k));
      for (;;) {
        const int64_t i = next_item_.fetch_add(1, std::memory_order_relaxed);
        if (i >= nitems || failed_.load(std::memory_order_relaxed)) return;
        if (!do_item(buf, i / p_.ntiles, i % p_.ntiles)) {
          failed_.store(true, std::memory_order_relaxed);
        }
        if (early != nullptr && k == 0) write_ready(*early);
      }
    });
    return !failed_.load();
  }
  const float* output() const { return outv_; }

 private:
  // Mean of band b is output band b * stride, its sd band 2b + 1, the annual mean band
  // nbands * stride.
  float* mean_band(int64_t b) const { return outv_ + b * p_.stride * p_.npixel; }
  float* sd_band(int64_t b) const { return outv_ + (2 * b + 1) * p_.npixel; }
  float* annual() const { return outv_ + p_.nbands * p_.stride * p_.npixel; }

  // Reads years [y, y + nv) of band b of the tile [q0, q0 + n) into buf, one row per year.
  bool read_years(float* buf, int64_t y, int64_t nv, int64_t b, int64_t q0, int64_t n) const {
    return !failed_.load(std::memory_order_relaxed) &&
           reader_.read_pixels(y * p_.nbands + b, p_.nbands, nv, q0, q0 + n, buf, p_.tile_len) ==
               raster::PreadEnd::whole;
  }

  bool add_means(float* buf, int64_t b, int64_t q0, int64_t n, float* sum) const {
    std::fill_n(sum, n, 0.0f);
    for (int64_t y = a_.startyear; y <= a_.endyear; y += p_.years_per_read) {
      const int64_t nv = std::min(p_.years_per_read, int64_t{a_.endyear} - y + 1);
      float* const rows_y = p_.keep ? buf + (y - a_.startyear) * p_.tile_len : buf;
      if (!read_years(rows_y, y, nv, b, q0, n)) return false;
      add_values(sum, rows_y, p_.tile_len, nv, n);
    }
    finish_means(sum, n, p_.nyear);
    return true;
  }

  bool add_deviations(float* buf, int64_t b, int64_t q0, int64_t n, const float* mean) const {
    float* const sq = sd_band(b) + q0;
    std::fill_n(sq, n, 0.0f);
    if (p_.keep) {
      add_squared_deviations(sq, buf, p_.tile_len, p_.nyear, mean, n);
    } else {
      for (int64_t y = a_.startyear; y <= a_.endyear; y += p_.years_per_read) {
        const int64_t nv = std::min(p_.years_per_read, int64_t{a_.endyear} - y + 1);
        if (!read_years(buf, y, nv, b, q0, n)) return false;
        add_squared_deviations(sq, buf, p_.tile_len, nv, mean, n);
      }
    }
    finish_sds(sq, n, p_.nyear);
    return true;
  }

  bool do_item(float* buf, int64_t b, int64_t t) {
    const int64_t q0 = p_.tile_begin(t);
    const int64_t n = p_.tile_begin(t + 1) - q0;
    float* const sum = mean_band(b) + q0;
    if (!add_means(buf, b, q0, n, sum)) return false;
    if (a_.sd && !add_deviations(buf, b, q0, n, sum)) return false;
    // The thread that finishes the tile's last band sees every other band's means.
    if (a_.gm &&
        std::atomic_ref<int32_t>(bands_done_[t]).fetch_add(1, std::memory_order_acq_rel) + 1 ==
            p_.nbands) {
      const float bands_div = static_cast<float>(a_.nbandsyear);
      std::fill_n(annual() + q0, n, 0.0f);
      for (int64_t c = 0; c < p_.nbands; ++c) {
        add_annual(annual() + q0, mean_band(c) + q0, n, bands_div);
      }
    }
    std::atomic_ref<int32_t>(tiles_done_[b]).fetch_add(1, std::memory_order_release);
    return true;
  }

  // The output bands of input band b are complete once all its tiles are.
  void write_ready(raster::InOrderWriter& early) {
    int64_t b = bands_out_;
    while (b < p_.nbands &&
           std::atomic_ref<int32_t>(tiles_done_[b]).load(std::memory_order_acquire) == p_.ntiles) {
      ++b;
    }
    if (b > bands_out_) early.write_to(b * p_.stride * p_.npixel * 4);
    bands_out_ = b;
  }

  const Args& a_;
  const Plan& p_;
  const raster::BandReader reader_;
  float* const outv_;
  const raster::Workspace& work_;
  int32_t* const tiles_done_;
  int32_t* const bands_done_;
  std::atomic<int64_t> next_item_{0};
  std::atomic<bool> failed_{false};
  int64_t bands_out_ = 0;  ///< input bands whose output bands are written (member 0's)
};

}  // namespace

Args parse_args(int argc, char** argv) {
  if (argc <= 6) usage(argv[0]);
  Args a;
  a.ifile = argv[1];
  a.ofile = argv[2];
  a.npixel = raster::arg_int(argv[3]);
  a.startyear = raster::arg_int(argv[4]);
  a.endyear = raster::arg_int(argv[5]);
  a.nbandsyear = raster::arg_int(argv[6]);
  for (int i = 7; i < argc; ++i) {
    if (std::strcmp(argv[i], "-gm") == 0) {
      a.gm = true;
    } else if (std::strcmp(argv[i], "-sd") == 0) {
      a.sd = true;
    }
  }
  return a;
}

int run(const Args& a) {
  // 64-bit, so that extreme years cannot wrap into a positive count.
  const int64_t nyear = int64_t{a.endyear} - a.startyear + 1;
  std::printf("%d %d %" PRId64 "\n", a.startyear, a.endyear, nyear);
  std::fflush(stdout);  // the line comes before any message, also when both streams are merged
  if (nyear <= 0) raster::fail_exact("endyear < startyear! Exit.\n");
  // A negative year would be read from before the start of the file.
  raster::require_not_negative("startyear", a.startyear);
  raster::require_at_least_one("npixel", a.npixel);
  raster::require_at_least_one("nbandsyear", a.nbandsyear);

  raster::InFile in = raster::InFile::open(a.ifile);
  const char* const inputs[] = {a.ifile};
  const char* const outputs[] = {a.ofile};
  raster::refuse_output_over_input(inputs, outputs);
  raster::OutFile out = raster::OutFile::open(a.ofile);

  const Plan plan = plan_run(a, nyear);
  const raster::Workspace work = map_workspace(plan);
  MeanRun mean(a, plan, work, fileno(in.get()));

  // Into a regular file, and from an input that holds every year asked for, member 0 writes
  // the output bands out as they are complete, between its items. Should a read fail all the
  // same (a device error), the file is emptied before the run fails, so that it ends as a run
  // that writes at the end would leave it.
  int64_t need = 0;
  const bool early =
      raster::value_offset(int64_t{a.endyear} + 1, a.nbandsyear, 0, plan.npixel, 0, &need) &&
      in.is_regular() && in.size() >= need && out.is_regular();
  raster::InOrderWriter writer(out, mean.output());
  bool complete = false;
  {
    raster::ThreadTeam team(plan.nthreads);
    complete = mean.compute(team, early ? &writer : nullptr);
  }
  // A year that cannot be reached or is not there in full.
  if (!complete) {
    if (writer.written() > 0) out.discard();
    raster::fail_exact("Error reading from file\n");
  }
  if (early) {
    writer.write_to(plan.nout * 4);
    if (writer.error() != 0) out.fail_write(writer.error());
  } else {
    out.write_floats(mean.output(), plan.nout);
  }
  in = raster::InFile();  // the input is closed first, then the output (checked)
  out.close();
  return 0;
}

int run_mean(int argc, char** argv) {
  return raster::run_program([&] { return run(parse_args(argc, argv)); });
}

}  // namespace meantool
