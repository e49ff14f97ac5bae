#include "exactmath.h"

#include <mpfr.h>

#include "rasterfile.h"

namespace raster {

namespace {

// One MPFR value of a double's precision: the argument is taken exactly, and the function's
// result rounded once to 53 bits is the nearest double (cos and sin of a double are never
// subnormal but at 0, where both are exact).
class Mpfr53 {
 public:
  explicit Mpfr53(double x) {
    mpfr_init2(v_, 53);
    mpfr_set_d(v_, x, MPFR_RNDN);
  }
  ~Mpfr53() { mpfr_clear(v_); }
  Mpfr53(const Mpfr53&) = delete;
  Mpfr53& operator=(const Mpfr53&) = delete;
  template <class F>
  double apply(F f) {
    f(v_, v_, MPFR_RNDN);
    return mpfr_get_d(v_, MPFR_RNDN);
  }

 private:
  mpfr_t v_;
};

}  // namespace

double cos_rounded(double x) { return Mpfr53(x).apply(mpfr_cos); }
double sin_rounded(double x) { return Mpfr53(x).apply(mpfr_sin); }

// Declared with the file routines; kept here, with the correctly rounded sines it uses, so
// that the tools that only read and write files do not load MPFR.
double pixelarea(double lon_e, double lon_w, double lat_n, double lat_s) {
  constexpr double pi = 3.141592653589793;
  const double a = (lon_e * pi) / 180 + (lon_w * pi) / (-180);
  const double b = a * 4.05897684201e13;
  const double s = sin_rounded((lat_n * pi) / 180) + sin_rounded((lat_s * pi) / (-180));
  return s * b;
}

}  // namespace raster
