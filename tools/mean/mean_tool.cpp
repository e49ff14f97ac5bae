// The run of `mean`: the command line, the files, and the work split over threads.
//
// The pixels are cut into tiles, and one work item is one band of one tile: its sums over the
// years, its mean and, with "-sd", at once its squared deviations over the years (from the
// rows kept in memory where they fit, otherwise read again while they are still in the cache)
// and its deviation. Threads take the items in order, bands first. Every value depends on its
// own pixel and band only and receives its terms in the order of one sweep over the file (the
// years in order, the mean, then the squared deviations in year order), so the output bytes
// are the same whichever thread takes which item and however many threads there are. The
// annual mean of a tile is taken by the thread that finishes the tile's last band, band by
// band in order. Memory is the output and at most one year of input.
#include "mean_tool.h"

#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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
/// Transparent huge pages: the working memory is faulted in 2 MiB at a time.
constexpr int64_t kHugePage = int64_t{1} << 21;
constexpr int64_t kPage = 4096;

int64_t round_up(int64_t n, int64_t unit) { return (n + unit - 1) / unit * unit; }

/// All working memory of a run in one anonymous mapping: the output values, one read buffer
/// per thread and the work counters, each on pages of its own. The mapping is aligned to huge
/// pages and marked for them where the kernel offers them (a hint: without it the same values,
/// in small pages); it is rounded up to whole huge pages where that keeps it within `limit`
/// bytes. Fresh mappings read as zeros, so the counters start at 0 and cost nothing until
/// used. A failed mapping ends the run with "Error allocating memory".
class Workspace {
 public:
  Workspace(int64_t nout, int nthreads, int64_t nread, int64_t ncounters, int64_t limit) {
    read_offset_ = round_up(raster::alloc_count({nout}, 4) * 4, kPage);
    read_bytes_ = round_up(raster::alloc_count({nread}, 4) * 4, kPage);
    const int64_t counter_bytes = round_up(raster::alloc_count({ncounters}, 4) * 4, kPage);
    int64_t used = 0;
    if (__builtin_mul_overflow(read_bytes_, int64_t{nthreads}, &used) ||
        __builtin_add_overflow(used, read_offset_, &counter_offset_) ||
        __builtin_add_overflow(counter_offset_, counter_bytes, &used) ||
        used > INT64_MAX - 2 * kHugePage) {
      raster::failu("Error allocating memory\n");
    }
    const int64_t whole = round_up(used, kHugePage);
    bytes_ = static_cast<std::size_t>(whole <= limit ? whole : used);
    // Mapped one huge page longer than it is kept, so that its start can be aligned; what lies
    // before and after the aligned range goes back at once.
    const std::size_t span = bytes_ + kHugePage;
    void* p = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) raster::failu("Error allocating memory\n");
    const auto first = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t start = (first + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
    if (start > first) munmap(p, start - first);
    if (first + span > start + bytes_) {
      munmap(reinterpret_cast<void*>(start + bytes_), first + span - (start + bytes_));
    }
    base_ = reinterpret_cast<char*>(start);
    madvise(base_, bytes_, MADV_HUGEPAGE);
  }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
  ~Workspace() { munmap(base_, bytes_); }

  float* output() const { return reinterpret_cast<float*>(base_); }
  float* read_buffer(int k) const {
    return reinterpret_cast<float*>(base_ + read_offset_ + k * read_bytes_);
  }
  int32_t* counters() const { return reinterpret_cast<int32_t*>(base_ + counter_offset_); }

 private:
  char* base_ = nullptr;
  std::size_t bytes_ = 0;
  int64_t read_offset_ = 0;
  int64_t read_bytes_ = 0;
  int64_t counter_offset_ = 0;
};

/// Reads values [p, p + n) of band b of year y into dst with pread. False when they are not all
/// there: the file ends, a read fails, or the offset lies beyond any file.
bool read_segment(int fd, int64_t y, int64_t nbands, int64_t b, int64_t npixel, int64_t p,
                  int64_t n, float* dst) {
  int64_t offset = 0;
  if (!raster::value_offset(y, nbands, b, npixel, p, &offset)) return false;
  int64_t got = 0;
  return raster::pread_full(fd, dst, n * 4, offset, &got) == raster::PreadEnd::whole;
}

/// The size of a regular file open on fd, or -1 for anything else.
int64_t regular_size(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

/// The output's bytes written with write(2) straight to the file's descriptor, in order, in
/// pieces as they are complete. A failure is kept, not reported: the run reports it once
/// every read is done, as a run that writes everything at the end would.
class PieceWriter {
 public:
  PieceWriter(int fd, const float* data) : fd_(fd), data_(reinterpret_cast<const char*>(data)) {}
  /// Writes bytes [written(), end); nothing once a write has failed.
  void write_to(int64_t end) {
    while (errno_ == 0 && done_ < end) {
      const ssize_t r = ::write(fd_, data_ + done_, static_cast<std::size_t>(end - done_));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        errno_ = errno;
      } else {
        done_ += r;
      }
    }
  }
  int64_t written() const { return done_; }
  /// errno of the write that failed, 0 while none has.
  int error() const { return errno_; }

 private:
  int fd_;
  const char* data_;
  int64_t done_ = 0;
  int errno_ = 0;
};

/// The start of a team's task. Some schedulers (virtual machines that pack work onto few
/// virtual processors) leave a thread woken while another one runs queued behind it until the
/// next load balance, milliseconds later, about as long as a whole run; a thread that sleeps
/// meets the same on waking. So each helper thread, once it runs, moves itself to a processor
/// of its own among those the process may use and hands the choice back to the kernel at once,
/// while member 0 stays where it is and waits for them without sleeping, yielding its processor
/// to a helper queued there, for a millisecond at most (on a busy machine a helper may have to
/// wait for a processor; the items it does not take are taken by the others). Placement only:
/// the results never depend on it.
class StartLine {
 public:
  explicit StartLine(int nthreads) : nthreads_(nthreads) {
    CPU_ZERO(&allowed_);
    if (nthreads_ < 2 || sched_getaffinity(0, sizeof(allowed_), &allowed_) != 0) return;
    const int home = sched_getcpu();
    for (int c = 0; c < CPU_SETSIZE; ++c) {
      if (CPU_ISSET(c, &allowed_) && c != home) others_.push_back(c);
    }
  }
  void arrive(int k) {
    if (k == 0) {
      const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
      while (started_.load(std::memory_order_acquire) < nthreads_ &&
             std::chrono::steady_clock::now() < until) {
        sched_yield();
      }
      return;
    }
    if (!others_.empty()) {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(others_[static_cast<std::size_t>(k - 1) % others_.size()], &one);
      if (sched_setaffinity(0, sizeof(one), &one) == 0) {
        sched_setaffinity(0, sizeof(allowed_), &allowed_);
      }
    }
    started_.fetch_add(1, std::memory_order_release);
  }

 private:
  int nthreads_;
  cpu_set_t allowed_;
  std::vector<int> others_;
  std::atomic<int> started_{1};
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

  const int64_t npixel = a.npixel;
  const int64_t nbands = a.nbandsyear;
  const int64_t stride = a.sd ? 2 : 1;                            // output bands per input band
  const int64_t nvalues = raster::alloc_count({npixel, nbands});  // values of one year
  const int64_t noutbands = nbands * stride + (a.gm ? 1 : 0);

  // Tiles of at most kMaxTile pixels, as many as a multiple of the threads. With "-sd", where
  // the band of a tile for every year fits, for all threads together, into the memory of one
  // year of input, tiles are made that small and each thread keeps its rows between the two
  // passes; otherwise the second pass reads them again, while they are still in the cache.
  const int nthreads =
      raster::threads_for(npixel, kPixelsPerThread, raster::default_thread_count());
  const int64_t kept_tile =
      a.sd ? std::min(kMaxTile, nvalues / nthreads / nyear - 2 * kAlign) : int64_t{0};
  const bool keep = kept_tile >= kMinKeptTile;
  const int64_t max_tile = keep ? kept_tile : kMaxTile;
  int64_t ntiles = std::max<int64_t>((npixel + max_tile - 1) / max_tile, nthreads);
  ntiles = round_up(ntiles, nthreads);
  const auto tile_begin = [&](int64_t t) {
    return raster::block_begin(npixel, static_cast<int>(ntiles), static_cast<int>(t), kAlign);
  };
  int64_t tile_len = 0;
  for (int64_t t = 0; t < ntiles; ++t) {
    tile_len = std::max(tile_len, tile_begin(t + 1) - tile_begin(t));
  }
  // Never more rows than one year of input holds, for all threads together.
  const int64_t years_per_read =
      std::max<int64_t>(1, std::min({nyear, kYearsPerRead, nvalues / (nthreads * tile_len)}));
  const int64_t rows = keep ? nyear : years_per_read;  // rows of a read buffer, one per year
  const int64_t nout = raster::alloc_count({noutbands, npixel});
  // Memory: the output and one year of input, or less.
  int64_t limit = 0;
  if (__builtin_add_overflow(nout, nvalues, &limit) || __builtin_mul_overflow(limit, 4, &limit)) {
    limit = INT64_MAX;
  }
  const Workspace work(nout, nthreads, raster::alloc_count({rows, tile_len}), nbands + ntiles,
                       limit);
  // Tiles finished per band and bands finished per tile, taken through atomic_ref.
  int32_t* const tiles_done = work.counters();
  int32_t* const bands_done = tiles_done + nbands;

  // Mean of band b is output band b * stride, its sd band 2b + 1, the annual mean band
  // nbands * stride.
  float* const outv = work.output();
  const auto mean_band = [&](int64_t b) { return outv + b * stride * npixel; };
  const auto sd_band = [&](int64_t b) { return outv + (2 * b + 1) * npixel; };
  float* const annual = outv + nbands * stride * npixel;
  const float bands_div = static_cast<float>(a.nbandsyear);
  const int fd = fileno(in.get());

  // The output bands of input band b are complete once all its tiles are. Into a regular file,
  // and from an input that holds every year asked for, member 0 writes them out then, between
  // its items. Should a read fail all the same (a device error), the file is emptied before
  // the run fails, so that it ends as a run that writes at the end would leave it.
  int64_t need = 0;
  const bool early =
      raster::value_offset(int64_t{a.endyear} + 1, a.nbandsyear, 0, npixel, 0, &need) &&
      regular_size(fd) >= need && regular_size(fileno(out.get())) >= 0;
  PieceWriter writer(fileno(out.get()), outv);
  int64_t bands_out = 0;
  const auto write_ready = [&] {
    int64_t b = bands_out;
    while (b < nbands &&
           std::atomic_ref<int32_t>(tiles_done[b]).load(std::memory_order_acquire) == ntiles) {
      ++b;
    }
    if (b > bands_out) writer.write_to(b * stride * npixel * 4);
    bands_out = b;
  };

  std::atomic<int64_t> next_item{0};
  std::atomic<bool> failed{false};
  // Reads years [y, y + nv) of band b of the tile [q0, q0 + n) into buf, one row per year.
  const auto read_years = [&](float* buf, int64_t y, int64_t nv, int64_t b, int64_t q0, int64_t n) {
    for (int64_t j = 0; j < nv; ++j) {
      if (!read_segment(fd, y + j, nbands, b, npixel, q0, n, buf + j * tile_len)) return false;
    }
    return true;
  };
  const auto do_item = [&](float* buf, int64_t b, int64_t t) {
    const int64_t q0 = tile_begin(t);
    const int64_t n = tile_begin(t + 1) - q0;
    float* const sum = mean_band(b) + q0;
    std::fill_n(sum, n, 0.0f);
    for (int64_t y = a.startyear; y <= a.endyear; y += years_per_read) {
      const int64_t nv = std::min(years_per_read, int64_t{a.endyear} - y + 1);
      float* const rows_y = keep ? buf + (y - a.startyear) * tile_len : buf;
      if (failed.load(std::memory_order_relaxed) || !read_years(rows_y, y, nv, b, q0, n)) {
        return false;
      }
      add_values(sum, rows_y, tile_len, nv, n);
    }
    finish_means(sum, n, nyear);
    if (a.sd) {
      float* const sq = sd_band(b) + q0;
      std::fill_n(sq, n, 0.0f);
      if (keep) {
        add_squared_deviations(sq, buf, tile_len, nyear, sum, n);
      } else {
        for (int64_t y = a.startyear; y <= a.endyear; y += years_per_read) {
          const int64_t nv = std::min(years_per_read, int64_t{a.endyear} - y + 1);
          if (failed.load(std::memory_order_relaxed) || !read_years(buf, y, nv, b, q0, n)) {
            return false;
          }
          add_squared_deviations(sq, buf, tile_len, nv, sum, n);
        }
      }
      finish_sds(sq, n, nyear);
    }
    // The thread that finishes the tile's last band sees every other band's means.
    if (a.gm &&
        std::atomic_ref<int32_t>(bands_done[t]).fetch_add(1, std::memory_order_acq_rel) + 1 ==
            nbands) {
      std::fill_n(annual + q0, n, 0.0f);
      for (int64_t c = 0; c < nbands; ++c) {
        add_annual(annual + q0, mean_band(c) + q0, n, bands_div);
      }
    }
    std::atomic_ref<int32_t>(tiles_done[b]).fetch_add(1, std::memory_order_release);
    return true;
  };
  {
    raster::ThreadTeam team(nthreads);
    StartLine start(nthreads);
    const int64_t nitems = ntiles * nbands;
    team.run([&](int k) {
      start.arrive(k);
      float* const buf = work.read_buffer(k);
      for (;;) {
        const int64_t i = next_item.fetch_add(1, std::memory_order_relaxed);
        if (i >= nitems || failed.load(std::memory_order_relaxed)) return;
        if (!do_item(buf, i / ntiles, i % ntiles)) failed.store(true, std::memory_order_relaxed);
        if (early && k == 0) write_ready();
      }
    });
  }
  // A year that cannot be reached or is not there in full.
  if (failed.load()) {
    if (writer.written() > 0) out.discard();
    raster::fail_exact("Error reading from file\n");
  }
  if (early) {
    writer.write_to(nout * 4);
    if (writer.error() != 0) out.fail_write(writer.error());
  } else {
    out.write_floats(outv, nout);
  }
  in = raster::InFile();  // the input is closed first, then the output (checked)
  out.close();
  return 0;
}

}  // namespace meantool
