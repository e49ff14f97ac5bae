// Checks bandmath::exp_ieee, the exponential with the same bits everywhere, against the C
// library's exp and against MPFR's correctly rounded exp:
//
//  1. logistic: NVALUES single-precision inputs of the logistic curve (the default curve over
//     the range where its output is neither 0 nor 1 and far beyond, other curves, and arbitrary
//     float bit patterns for the tails). Each value goes through the steps of the logistic
//     kernel twice, with the C library's exp and with exp_ieee, and the single-precision results
//     must be equal. The double results of the two exps are compared bit for bit on every value
//     and against MPFR on a subsample of at least NMPFR values: one in every NVALUES / NMPFR
//     (or the next one when the pick is beyond +-800, where exp is 0 or inf).
//  2. whole range: NVALUES / 10 double arguments over the whole domain (subnormal and overflow
//     ends, tiny arguments, arguments next to the reduction's rounding boundaries, arbitrary
//     bit patterns), compared with the C library on every value and with MPFR on NMPFR of them.
//
// Errors are measured in units in the last place of the exact value (2^-1074 for subnormals).
// Exit status 1 when a single-precision logistic result differs, when an error reaches 1 ulp,
// or when an infinite, zero or NaN result differs from the C library's. A per-value timing of
// both exps and of the logistic loop with each follows the checks.
//
//   exp_check [NVALUES [NMPFR [THREADS [SEED]]]]    (defaults 1000000000 10000000 2 1)
#include <mpfr.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "exp_ieee.h"
#include "halfoffset.h"
#include "splitmix.h"

namespace {

// ---- the logistic steps, as the kernel runs them ------------------------------------------

struct Curve {
  double m, g, a1, a2;  // maxgrowth, growthrate, lower, upper
  double xlo, xhi;      // window of inputs drawn uniformly
};

// The default curve (3, 2, 0, 1) first: its output is neither 0 nor 1 for x in about
// [-5.7, 11.3]. The others change every parameter, including a falling curve (upper < lower)
// and a negative growth rate; their windows cover about 40 / |g| either side of maxgrowth.
constexpr Curve kDefault = {3.0, 2.0, 0.0, 1.0, -7.0, 13.0};
constexpr Curve kDefaultWide = {3.0, 2.0, 0.0, 1.0, -400.0, 400.0};
constexpr Curve kOthers[] = {
    {10.0, 0.5, -2.0, 4.0, -70.0, 90.0},   {0.0, 10.0, 0.0, 100.0, -4.0, 4.0},
    {-5.0, -1.5, 1.0, 0.0, -32.0, 22.0},   {280.0, 0.1, 0.0, 1.0, -120.0, 680.0},
    {0.5, 25.0, -1.0, 1.0, -1.1, 2.1},     {1000.0, 0.01, 0.2, 0.8, -3000.0, 5000.0},
    {3.0, 2.0, -273.15, 50.0, -12.0, 18.0}};
constexpr int kNumOthers = static_cast<int>(sizeof(kOthers) / sizeof(kOthers[0]));

inline double exp_arg(const Curve& c, float x) { return -c.g * (static_cast<double>(x) - c.m); }

inline float logistic_from_e(const Curve& c, double e) {
  const double d = c.a2 - c.a1;
  const double y = d / (1.0 + e) + c.a1;
  return raster::signed_halfoffset(y);
}

// ---- MPFR references ------------------------------------------------------------------------

// Thread-local MPFR state: the exponent range is per thread in a thread-safe MPFR.
class Reference {
 public:
  Reference() {
    mpfr_inits2(53, x_, cr_, static_cast<mpfr_ptr>(nullptr));
    mpfr_init2(wide_, 160);
    mpfr_init2(diff_, 400);
  }
  ~Reference() { mpfr_clears(x_, cr_, wide_, diff_, static_cast<mpfr_ptr>(nullptr)); }
  Reference(const Reference&) = delete;
  Reference& operator=(const Reference&) = delete;

  /// Sets the argument; the correctly rounded double of exp(x) follows from rounded().
  void set(double x) {
    mpfr_set_d(x_, x, MPFR_RNDN);
    mpfr_exp(wide_, x_, MPFR_RNDN);  // 160 bits, default (huge) exponent range
  }
  /// exp(x) correctly rounded to double, subnormals and overflow included.
  double rounded() {
    const mpfr_exp_t emin = mpfr_get_emin();
    const mpfr_exp_t emax = mpfr_get_emax();
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    const int t = mpfr_exp(cr_, x_, MPFR_RNDN);
    mpfr_subnormalize(cr_, t, MPFR_RNDN);
    const double r = mpfr_get_d(cr_, MPFR_RNDN);
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    return r;
  }
  /// |y - exp(x)| in units of the last place of exp(x) as a double.
  double ulps(double y) {
    if (std::isinf(y)) return std::isinf(rounded()) ? 0.0 : 1e9;
    const mpfr_exp_t ulp_exp = std::max<mpfr_exp_t>(mpfr_get_exp(wide_) - 53, -1074);
    mpfr_set_d(diff_, y, MPFR_RNDN);
    mpfr_sub(diff_, diff_, wide_, MPFR_RNDN);
    mpfr_mul_2si(diff_, diff_, -ulp_exp, MPFR_RNDN);
    return std::fabs(mpfr_get_d(diff_, MPFR_RNDN));
  }

 private:
  mpfr_t x_, cr_, wide_, diff_;
};

// ---- tallies ----------------------------------------------------------------------------------

struct Worst {
  double ulps = -1.0;
  double x = 0.0;
};

struct Tally {
  int64_t values = 0;
  int64_t float_mismatch = 0;  // logistic only
  int64_t lib_diff = 0;        // exp_ieee != C library, bit for bit
  int64_t special_diff = 0;    // ... of which one side is NaN, inf or 0
  int64_t mpfr_values = 0;
  int64_t own_not_cr = 0;  // exp_ieee != correctly rounded
  int64_t lib_not_cr = 0;  // C library != correctly rounded
  Worst own, lib;
  double first_mismatch_x = 0.0;  // a float logistic mismatch or special difference, to show
  bool has_example = false;

  void add(const Tally& o) {
    values += o.values;
    float_mismatch += o.float_mismatch;
    lib_diff += o.lib_diff;
    special_diff += o.special_diff;
    mpfr_values += o.mpfr_values;
    own_not_cr += o.own_not_cr;
    lib_not_cr += o.lib_not_cr;
    if (o.own.ulps > own.ulps) own = o.own;
    if (o.lib.ulps > lib.ulps) lib = o.lib;
    if (!has_example && o.has_example) {
      first_mismatch_x = o.first_mismatch_x;
      has_example = true;
    }
  }
};

inline bool special(double v) { return v != v || std::isinf(v) || v == 0.0; }

// Compares the two double results of one argument; with ref, also against MPFR.
inline void compare_exp(double t, double own, double lib, Reference* ref, Tally& s) {
  if (std::bit_cast<uint64_t>(own) != std::bit_cast<uint64_t>(lib)) {
    ++s.lib_diff;
    if (special(own) || special(lib)) {
      ++s.special_diff;
      if (!s.has_example) s.first_mismatch_x = t, s.has_example = true;
    }
  }
  if (ref == nullptr) return;
  ++s.mpfr_values;
  ref->set(t);
  const double cr = ref->rounded();
  if (std::bit_cast<uint64_t>(own) != std::bit_cast<uint64_t>(cr)) ++s.own_not_cr;
  if (std::bit_cast<uint64_t>(lib) != std::bit_cast<uint64_t>(cr)) ++s.lib_not_cr;
  const double eo = ref->ulps(own);
  const double el = ref->ulps(lib);
  if (eo > s.own.ulps) s.own = {eo, t};
  if (el > s.lib.ulps) s.lib = {el, t};
}

// ---- the two runs, block by block ---------------------------------------------------------------

constexpr int64_t kBlock = int64_t{1} << 20;

uint64_t block_seed(uint64_t seed, int64_t run, int64_t block) {
  Rng r{seed * 0x2545f4914f6cdd1dULL + static_cast<uint64_t>(run) * 0x9e3779b97f4a7c15ULL +
        static_cast<uint64_t>(block)};
  return r.next();
}

void logistic_block(uint64_t seed, int64_t first, int64_t n, int64_t stride, Reference& ref,
                    Tally& s) {
  Rng rng{seed};
  bool pending = false;  // a value picked for MPFR that was beyond +-800: take the next one
  for (int64_t i = first; i < first + n; ++i) {
    const uint64_t pick = rng.next() % 100;
    const Curve* c = &kDefault;
    float x;
    if (pick < 55) {
      x = static_cast<float>(rng.uniform(kDefault.xlo, kDefault.xhi));
    } else if (pick < 65) {
      c = &kDefaultWide;
      x = static_cast<float>(rng.uniform(c->xlo, c->xhi));
    } else if (pick < 70) {
      x = std::bit_cast<float>(static_cast<uint32_t>(rng.next()));
    } else if (pick < 95) {
      c = &kOthers[rng.next() % kNumOthers];
      x = static_cast<float>(rng.uniform(c->xlo, c->xhi));
    } else {
      c = &kOthers[rng.next() % kNumOthers];
      x = std::bit_cast<float>(static_cast<uint32_t>(rng.next()));
    }
    const double t = exp_arg(*c, x);
    const double own = bandmath::exp_ieee(t);
    const double lib = std::exp(t);
    ++s.values;
    if (std::bit_cast<uint32_t>(logistic_from_e(*c, own)) !=
        std::bit_cast<uint32_t>(logistic_from_e(*c, lib))) {
      ++s.float_mismatch;
      if (!s.has_example) s.first_mismatch_x = static_cast<double>(x), s.has_example = true;
    }
    pending = pending || i % stride == 0;
    const bool sample = pending && std::fabs(t) <= 800.0;  // beyond: 0 or inf, as compared
    pending = pending && !sample;
    compare_exp(t, own, lib, sample ? &ref : nullptr, s);
  }
}

void range_block(uint64_t seed, int64_t first, int64_t n, int64_t stride, Reference& ref,
                 Tally& s) {
  constexpr double kLn2N = 0x1.62e42fefa39efp-1 / 128.0;
  Rng rng{seed};
  bool pending = false;  // a value picked for MPFR that was beyond +-800: take the next one
  for (int64_t i = first; i < first + n; ++i) {
    const uint64_t pick = rng.next() % 100;
    double t;
    if (pick < 35) {
      t = rng.uniform(-745.2, 709.8);  // every finite result
    } else if (pick < 50) {
      t = rng.uniform(-20.0, 20.0);
    } else if (pick < 60) {
      t = rng.uniform(-745.2, -708.3);  // subnormal results and the rounding to 0
    } else if (pick < 65) {
      t = rng.uniform(709.0, 709.9);  // up to and past overflow
    } else if (pick < 75) {
      t = std::ldexp(1.0 + rng.unit(), -static_cast<int>(rng.next() % 60)) *
          (rng.next() & 1 ? 1.0 : -1.0);  // |t| in [2^-59, 2)
    } else if (pick < 90) {
      // Next to a rounding boundary of the reduction, (k + 1/2) ln2 / 128.
      const double k = std::floor(rng.uniform(-95000.0, 92000.0));
      t = (k + 0.5) * kLn2N + rng.uniform(-1e-9, 1e-9) * std::fabs(k + 1.0);
    } else {
      t = std::bit_cast<double>(rng.next());  // anything, NaN and infinities included
    }
    const double own = bandmath::exp_ieee(t);
    const double lib = std::exp(t);
    ++s.values;
    pending = pending || i % stride == 0;
    const bool sample = pending && std::fabs(t) <= 800.0;  // beyond: 0 or inf, as compared
    pending = pending && !sample;
    compare_exp(t, own, lib, sample ? &ref : nullptr, s);
  }
}

using BlockFn = void (*)(uint64_t, int64_t, int64_t, int64_t, Reference&, Tally&);

Tally run_threads(BlockFn fn, int64_t run, int64_t n, int64_t stride, uint64_t seed, int nthreads) {
  const int64_t nblocks = (n + kBlock - 1) / kBlock;
  std::atomic<int64_t> next{0};
  std::vector<Tally> tallies(static_cast<std::size_t>(nthreads));
  std::vector<std::thread> threads;
  for (int k = 0; k < nthreads; ++k) {
    threads.emplace_back([&, k] {
      Reference ref;
      for (int64_t b; (b = next.fetch_add(1)) < nblocks;) {
        const int64_t first = b * kBlock;
        fn(block_seed(seed, run, b), first, std::min(kBlock, n - first), stride, ref,
           tallies[static_cast<std::size_t>(k)]);
      }
    });
  }
  for (auto& t : threads) t.join();
  Tally total;
  for (const auto& t : tallies) total.add(t);
  return total;
}

// ---- where the default curve is neither 0 nor 1
// --------------------------------------------------

// Largest float x (between lo and hi, with pred(lo) true and pred(hi) false) for a monotone
// predicate, by bisection on the ordered bit patterns of positive and negative floats.
template <class Pred>
float last_true(float lo, float hi, Pred pred) {
  auto key = [](float f) {  // monotone in the value; -0 and +0 share 0
    const auto u = std::bit_cast<uint32_t>(f);
    const auto mag = static_cast<int64_t>(u & 0x7fffffffU);
    return (u & 0x80000000U) != 0 ? -mag : mag;
  };
  auto from_key = [](int64_t k) {
    const auto mag = std::bit_cast<float>(static_cast<uint32_t>(k < 0 ? -k : k));
    return k < 0 ? -mag : mag;
  };
  int64_t a = key(lo), b = key(hi);
  while (b - a > 1) {
    const int64_t mid = a + (b - a) / 2;
    (pred(from_key(mid)) ? a : b) = mid;
  }
  return from_key(a);
}

// ---- timing -------------------------------------------------------------------------------------

__attribute__((noinline)) void exp_lib_loop(const double* __restrict x, double* __restrict y,
                                            int64_t n) {
  for (int64_t i = 0; i < n; ++i) y[i] = std::exp(x[i]);
}
__attribute__((noinline)) void exp_own_loop(const double* __restrict x, double* __restrict y,
                                            int64_t n) {
  for (int64_t i = 0; i < n; ++i) y[i] = bandmath::exp_ieee(x[i]);
}
__attribute__((noinline)) void logistic_lib_loop(const float* __restrict x, float* __restrict out,
                                                 int64_t n, const Curve& c) {
  const double d = c.a2 - c.a1, g = c.g, m = c.m, a1 = c.a1;
  for (int64_t i = 0; i < n; ++i) {
    const double e = std::exp(-g * (static_cast<double>(x[i]) - m));
    out[i] = raster::signed_halfoffset(d / (1.0 + e) + a1);
  }
}
__attribute__((noinline)) void logistic_own_loop(const float* __restrict x, float* __restrict out,
                                                 int64_t n, const Curve& c) {
  const double d = c.a2 - c.a1, g = c.g, m = c.m, a1 = c.a1;
  for (int64_t i = 0; i < n; ++i) {
    const double e = bandmath::exp_ieee(-g * (static_cast<double>(x[i]) - m));
    out[i] = raster::signed_halfoffset(d / (1.0 + e) + a1);
  }
}

// Best of 15 rounds (the four loops take turns, so that a busy machine slows all alike).
void timing() {
  constexpr int64_t n = int64_t{1} << 14;
  std::vector<float> xf(n), of(n);
  std::vector<double> xd(n), od(n);
  Rng rng{12345};
  for (std::size_t i = 0; i < xf.size(); ++i) {
    xf[i] = static_cast<float>(rng.uniform(-7.0, 13.0));
    xd[i] = exp_arg(kDefault, xf[i]);
  }
  using clock = std::chrono::steady_clock;
  double best[4] = {1e30, 1e30, 1e30, 1e30};
  for (int round = 0; round < 15; ++round) {
    for (int k = 0; k < 4; ++k) {
      const auto t0 = clock::now();
      for (int pass = 0; pass < 20; ++pass) {
        switch (k) {
          case 0:
            exp_lib_loop(xd.data(), od.data(), n);
            break;
          case 1:
            exp_own_loop(xd.data(), od.data(), n);
            break;
          case 2:
            logistic_lib_loop(xf.data(), of.data(), n, kDefault);
            break;
          default:
            logistic_own_loop(xf.data(), of.data(), n, kDefault);
            break;
        }
      }
      const std::chrono::duration<double, std::nano> dt = clock::now() - t0;
      best[k] = std::min(best[k], dt.count() / (20.0 * static_cast<double>(n)));
    }
  }
  std::printf("time per value, one thread, %" PRId64 " values in cache, best of 15 rounds:\n", n);
  std::printf("  exp loop       C library %.2f ns, exp_ieee %.2f ns\n", best[0], best[1]);
  std::printf("  logistic loop  C library %.2f ns, exp_ieee %.2f ns\n", best[2], best[3]);
}

void print_tally(const char* name, const Tally& s, bool logistic) {
  const double pct = 100.0 / static_cast<double>(std::max<int64_t>(s.values, 1));
  const double mpct = 100.0 / static_cast<double>(std::max<int64_t>(s.mpfr_values, 1));
  std::printf("%s: %" PRId64 " values\n", name, s.values);
  if (logistic) {
    std::printf("  single-precision logistic results differing: %" PRId64 "\n", s.float_mismatch);
  }
  std::printf("  exp_ieee != C library exp: %" PRId64 " (%.4f%%), of which NaN/inf/0: %" PRId64
              "\n",
              s.lib_diff, static_cast<double>(s.lib_diff) * pct, s.special_diff);
  std::printf("  against MPFR, %" PRId64 " values (|x| <= 800):\n", s.mpfr_values);
  std::printf("    exp_ieee  not correctly rounded %" PRId64
              " (%.4f%%), max error %.4f ulp at x = %a\n",
              s.own_not_cr, static_cast<double>(s.own_not_cr) * mpct, s.own.ulps, s.own.x);
  std::printf("    C library not correctly rounded %" PRId64
              " (%.4f%%), max error %.4f ulp at x = %a\n",
              s.lib_not_cr, static_cast<double>(s.lib_not_cr) * mpct, s.lib.ulps, s.lib.x);
  if (s.has_example) std::printf("  first mismatch at x = %a\n", s.first_mismatch_x);
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t nvalues = argc > 1 ? std::atoll(argv[1]) : 1000000000;
  const int64_t nmpfr = argc > 2 ? std::atoll(argv[2]) : 10000000;
  const int nthreads = argc > 3 ? std::max(1, std::atoi(argv[3])) : 2;
  const uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1;
  if (nvalues < 1 || nmpfr < 1) {
    std::fprintf(stderr, "use: exp_check [NVALUES [NMPFR [THREADS [SEED]]]]\n");
    return 2;
  }
  if (nthreads > 1 && !mpfr_buildopt_tls_p()) {
    std::fprintf(stderr, "exp_check: this MPFR is not thread-safe; run with THREADS = 1\n");
    return 2;
  }

  // Where the default curve's output is strictly between 0 and 1 (C library exp).
  const float x0 = last_true(-100.0f, 3.0f, [](float x) {
    return logistic_from_e(kDefault, std::exp(exp_arg(kDefault, x))) == 0.0f;
  });
  const float x1 = last_true(3.0f, 100.0f, [](float x) {
    return logistic_from_e(kDefault, std::exp(exp_arg(kDefault, x))) < 1.0f;
  });
  std::printf(
      "default curve (maxgrowth 3, growthrate 2, lower 0, upper 1): output in (0, 1) for "
      "x in [%.9g, %.9g]; drawn from [%g, %g] for 55%% of the values\n",
      static_cast<double>(std::nextafter(x0, 1.0f)), static_cast<double>(x1), kDefault.xlo,
      kDefault.xhi);

  using clock = std::chrono::steady_clock;
  const auto t0 = clock::now();
  // One value in every stride goes to MPFR (or the next within +-800); 0.1% more than asked
  // makes up for picks left at the end of a block.
  auto stride = [nmpfr](int64_t n) { return std::max<int64_t>(1, n / (nmpfr + nmpfr / 1000)); };
  const Tally a = run_threads(logistic_block, 0, nvalues, stride(nvalues), seed, nthreads);
  const auto t1 = clock::now();
  const int64_t nrange = std::max<int64_t>(1, nvalues / 10);
  const Tally b = run_threads(range_block, 1, nrange, stride(nrange), seed, nthreads);
  const auto t2 = clock::now();

  print_tally("logistic inputs", a, true);
  std::printf("  %.1f s on %d threads\n", std::chrono::duration<double>(t1 - t0).count(), nthreads);
  print_tally("whole range of double arguments", b, false);
  std::printf("  %.1f s on %d threads\n", std::chrono::duration<double>(t2 - t1).count(), nthreads);

  const bool ok = a.float_mismatch == 0 && a.own.ulps < 1.0 && b.own.ulps < 1.0 &&
                  a.special_diff == 0 && b.special_diff == 0;
  timing();
  std::printf("%s\n", ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
