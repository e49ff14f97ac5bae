// The four slice products, made from the finished slice sums in a fixed order: ofile1, ofile5,
// ofile2, ofile6. The order matters: the first band of ofile2 and of ofile6 replaces the norm
// sums by their square roots in place, after ofile1 and ofile5 have used them as accumulated,
// and bands 3 and 4 then write those roots.
#include <cmath>
#include <cstdio>

#include "corvane.h"
#include "rules.h"

namespace corvane {

namespace {

using rules::as_single;
using rules::cosine;

class BandWriter {
 public:
  explicit BandWriter(int64_t npixel) : wbuf_(npixel) { wbuf_.fill(0.0f); }
  float* data() { return wbuf_.data(); }
  int64_t size() const { return wbuf_.size(); }
  void write(raster::OutFile& out) { out.write_floats(wbuf_.data(), wbuf_.size()); }

 private:
  raster::Buffer<float> wbuf_;
};

// One band from one value per pixel.
template <class Rule>
void write_band(raster::OutFile& out, BandWriter& band, Rule rule) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < band.size(); ++p) wbuf[p] = static_cast<float>(rule(p));
  band.write(out);
}

// ofile1: a cosine above 1 is reported and written unchanged.
void write_angle(raster::OutFile& out, BandWriter& band, const SliceSums& s) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < band.size(); ++p) {
    wbuf[p] = static_cast<float>(cosine(s.nom[p], s.absa[p], s.absb[p], true));
    if (wbuf[p] > 1.0f) {
      std::printf("p %d nom %lf absa %lf absb %lf\n", static_cast<int>(p), s.nom[p], s.absa[p],
                  s.absb[p]);
    }
  }
  band.write(out);
}

// ofile2: band 1 turns the norms into their roots (absa only where positive); bands 3 and 4
// are those roots.
void write_magnitude(raster::OutFile& out, BandWriter& band, SliceSums& s, double nan) {
  write_band(out, band, [&](int64_t p) {
    if (s.absa[p] > 0) s.absa[p] = std::sqrt(s.absa[p]);
    s.absb[p] = std::sqrt(s.absb[p]);
    return s.absb[p] < 0.001 || s.absa[p] < 0 ? -1.0 : (as_single(s.absa[p]) / s.absb[p]) * 100;
  });
  write_band(out, band, [&](int64_t p) { return rules::guarded_root(s.diffsq[p], nan); });
  write_band(out, band, [&](int64_t p) { return s.absa[p]; });
  write_band(out, band, [&](int64_t p) { return s.absb[p]; });
}

// ofile6: band 1 turns both norms into their roots in any case.
void write_magnitude_global(raster::OutFile& out, BandWriter& band, SliceSums& s) {
  write_band(out, band, [&](int64_t p) {
    s.absa_glob[p] = std::sqrt(s.absa_glob[p]);
    s.absb_glob[p] = std::sqrt(s.absb_glob[p]);
    return s.absb_glob[p] > 0.001 ? (as_single(s.absa_glob[p]) / s.absb_glob[p]) * 100 : -1.0;
  });
  write_band(out, band, [&](int64_t p) { return std::sqrt(s.diffsq_glob[p]); });
  write_band(out, band, [&](int64_t p) { return s.absa_glob[p]; });
  write_band(out, band, [&](int64_t p) { return s.absb_glob[p]; });
}

}  // namespace

void write_slice_products(Run& run, SliceSums& s) {
  BandWriter band(run.npixel);
  write_angle(run.ofile[kAngle], band, s);
  write_band(run.ofile[kAngleGlobal], band, [&](int64_t p) {
    return cosine(s.nom_glob[p], s.absa_glob[p], s.absb_glob[p], false);
  });
  write_magnitude(run.ofile[kMagnitude], band, s, rules::sqrt_of_minus_one());
  write_magnitude_global(run.ofile[kMagnitudeGlobal], band, s);
}

}  // namespace corvane
