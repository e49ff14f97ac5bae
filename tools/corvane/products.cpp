// The eight output products, made from the finished sums in a fixed order: ofile1, ofile5,
// ofile2, ofile6, ofile3, ofile4, ofile7, ofile8. The order matters: the first band of ofile2
// and of ofile6 replaces the norm sums by their square roots in place, after ofile1 and ofile5
// have used them as accumulated, and bands 3 and 4 then write those roots.
#include <cmath>
#include <cstdio>

#include "corvane.h"

namespace corvane {

namespace {

// The NaN that the square root of -1 gives on this machine; taken at run time so that the
// compiler cannot substitute a NaN of its own.
double sqrt_of_minus_one() {
  volatile double minus_one = -1.0;
  return std::sqrt(minus_one);
}

// A sum rounded to single precision and widened back, as the cosine and ratio rules use it.
double as_single(double v) { return static_cast<double>(static_cast<float>(v)); }

// Cosine of the angle from a dot product and two squared norms. `by_magnitude` selects the
// fallback of the per-pixel slice rule, which compares magnitudes rather than values.
double cosine(double nom, double absa, double absb, bool by_magnitude) {
  if (absa > 0.001 && absb > 0.001) return (as_single(nom) / std::sqrt(absa)) / std::sqrt(absb);
  const double a = by_magnitude ? std::fabs(absa) : absa;
  const double b = by_magnitude ? std::fabs(absb) : absb;
  return a <= 0.001 && b <= 0.001 ? 1.0 : 0.0;
}

class BandWriter {
 public:
  explicit BandWriter(int64_t npixel) : wbuf_(npixel) { wbuf_.fill(0.0f); }
  float* data() { return wbuf_.data(); }
  void write(raster::OutFile& out) { out.write_floats(wbuf_.data(), wbuf_.size()); }

 private:
  raster::Buffer<float> wbuf_;
};

void write_cosines(raster::OutFile& out, BandWriter& band, int64_t npixel, const double* nom,
                   const double* absa, const double* absb) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < npixel; ++p) {
    wbuf[p] = static_cast<float>(cosine(nom[p], absa[p], absb[p], false));
  }
  band.write(out);
}

void write_roots(raster::OutFile& out, BandWriter& band, int64_t npixel, const double* sum) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < npixel; ++p) wbuf[p] = static_cast<float>(std::sqrt(sum[p]));
  band.write(out);
}

// Square roots where the sum is not negative; elsewhere (NaN included) the NaN of sqrt(-1).
void write_guarded_roots(raster::OutFile& out, BandWriter& band, int64_t npixel, const double* sum,
                         double nan) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < npixel; ++p) {
    wbuf[p] = static_cast<float>(sum[p] >= 0 ? std::sqrt(sum[p]) : nan);
  }
  band.write(out);
}

void write_values(raster::OutFile& out, BandWriter& band, int64_t npixel, const double* v) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < npixel; ++p) wbuf[p] = static_cast<float>(v[p]);
  band.write(out);
}

}  // namespace

void write_products(Run& run, Sums& s) {
  const int64_t npixel = run.npixel;
  const int64_t nyear = run.nyear_ref;
  const double nan = sqrt_of_minus_one();
  BandWriter band(npixel);
  float* wbuf = band.data();
  auto& ofile = run.ofile;

  // ofile1: a cosine above 1 is reported and written unchanged.
  for (int64_t p = 0; p < npixel; ++p) {
    wbuf[p] = static_cast<float>(cosine(s.nom[p], s.absa[p], s.absb[p], true));
    if (wbuf[p] > 1.0f) {
      std::printf("p %d nom %lf absa %lf absb %lf\n", static_cast<int>(p), s.nom[p], s.absa[p],
                  s.absb[p]);
    }
  }
  band.write(ofile[0]);

  // ofile5
  write_cosines(ofile[4], band, npixel, s.nom_glob.data(), s.absa_glob.data(), s.absb_glob.data());

  // ofile2, band 1: the norms become their roots (absa only where positive).
  for (int64_t p = 0; p < npixel; ++p) {
    if (s.absa[p] > 0) s.absa[p] = std::sqrt(s.absa[p]);
    s.absb[p] = std::sqrt(s.absb[p]);
    wbuf[p] = static_cast<float>(
        s.absb[p] < 0.001 || s.absa[p] < 0 ? -1.0 : (as_single(s.absa[p]) / s.absb[p]) * 100);
  }
  band.write(ofile[1]);
  write_guarded_roots(ofile[1], band, npixel, s.diffsq.data(), nan);
  write_values(ofile[1], band, npixel, s.absa.data());
  write_values(ofile[1], band, npixel, s.absb.data());

  // ofile6, band 1: both norms become their roots in any case.
  for (int64_t p = 0; p < npixel; ++p) {
    s.absa_glob[p] = std::sqrt(s.absa_glob[p]);
    s.absb_glob[p] = std::sqrt(s.absb_glob[p]);
    wbuf[p] = static_cast<float>(
        s.absb_glob[p] > 0.001 ? (as_single(s.absa_glob[p]) / s.absb_glob[p]) * 100 : -1.0);
  }
  band.write(ofile[5]);
  write_roots(ofile[5], band, npixel, s.diffsq_glob.data());
  write_values(ofile[5], band, npixel, s.absa_glob.data());
  write_values(ofile[5], band, npixel, s.absb_glob.data());

  // Series: one band per year of the reference file.
  for (int64_t y = 0; y < nyear; ++y) {
    const int64_t e = y * npixel;
    write_cosines(ofile[2], band, npixel, &s.nom_ts[e], &s.absa_ts[e], &s.absb_ts[e]);
  }
  for (int64_t y = 0; y < nyear; ++y) {
    write_guarded_roots(ofile[3], band, npixel, &s.absa_ts[y * npixel], nan);
  }
  for (int64_t y = 0; y < nyear; ++y) {
    const int64_t e = y * npixel;
    write_cosines(ofile[6], band, npixel, &s.nom_ts_glob[e], &s.absa_ts_glob[e],
                  &s.absb_ts_glob[e]);
  }
  for (int64_t y = 0; y < nyear; ++y) {
    write_roots(ofile[7], band, npixel, &s.absa_ts_glob[y * npixel]);
  }

  for (raster::OutFile& out : ofile) out.close();
}

}  // namespace corvane
