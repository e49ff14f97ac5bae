// The four slice products, made from the finished slice sums in a fixed order: ofile1, ofile5,
// ofile2, ofile6. The order matters: the first band of ofile2 and of ofile6 replaces the norm
// sums by their square roots in place, after ofile1 and ofile5 have used them as accumulated,
// and bands 3 and 4 then write those roots.
#include "products.h"

#include <cmath>
#include <cstdio>

#include "rules.h"

namespace corvane {

namespace {

using rules::as_single;
using rules::cosine;

// One band of output values, made and written one after the other.
class BandWriter {
 public:
  BandWriter(OutputSet& outputs, int64_t npixel) : outputs_(outputs), wbuf_(npixel) {
    wbuf_.fill(0.0f);
  }
  float* data() { return wbuf_.data(); }
  int64_t size() const { return wbuf_.size(); }
  void write(Output o) { outputs_.write_band(o, wbuf_.data()); }

 private:
  OutputSet& outputs_;
  raster::Buffer<float> wbuf_;
};

// One band from one value per pixel.
template <class Rule>
void write_band(Output o, BandWriter& band, Rule rule) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < band.size(); ++p) wbuf[p] = static_cast<float>(rule(p));
  band.write(o);
}

// ofile1: a cosine above 1 is reported and written unchanged.
void write_angle(BandWriter& band, const SliceSums& s) {
  float* wbuf = band.data();
  for (int64_t p = 0; p < band.size(); ++p) {
    wbuf[p] = static_cast<float>(cosine(s.nom[p], s.absa[p], s.absb[p], true));
    if (wbuf[p] > 1.0f) {
      std::printf("p %d nom %lf absa %lf absb %lf\n", static_cast<int>(p), s.nom[p], s.absa[p],
                  s.absb[p]);
    }
  }
  band.write(kAngle);
}

// ofile2: band 1 turns the norms into their roots (absa only where positive); bands 3 and 4
// are those roots.
void write_magnitude(BandWriter& band, SliceSums& s, double nan) {
  write_band(kMagnitude, band, [&](int64_t p) {
    if (s.absa[p] > 0) s.absa[p] = std::sqrt(s.absa[p]);
    s.absb[p] = std::sqrt(s.absb[p]);
    return s.absb[p] < 0.001 || s.absa[p] < 0 ? -1.0 : (as_single(s.absa[p]) / s.absb[p]) * 100;
  });
  write_band(kMagnitude, band, [&](int64_t p) { return rules::guarded_root(s.diffsq[p], nan); });
  write_band(kMagnitude, band, [&](int64_t p) { return s.absa[p]; });
  write_band(kMagnitude, band, [&](int64_t p) { return s.absb[p]; });
}

// ofile6: band 1 turns both norms into their roots in any case.
void write_magnitude_global(BandWriter& band, SliceSums& s) {
  write_band(kMagnitudeGlobal, band, [&](int64_t p) {
    s.absa_glob[p] = std::sqrt(s.absa_glob[p]);
    s.absb_glob[p] = std::sqrt(s.absb_glob[p]);
    return s.absb_glob[p] > 0.001 ? (as_single(s.absa_glob[p]) / s.absb_glob[p]) * 100 : -1.0;
  });
  write_band(kMagnitudeGlobal, band, [&](int64_t p) { return std::sqrt(s.diffsq_glob[p]); });
  write_band(kMagnitudeGlobal, band, [&](int64_t p) { return s.absa_glob[p]; });
  write_band(kMagnitudeGlobal, band, [&](int64_t p) { return s.absb_glob[p]; });
}

}  // namespace

void write_slice_products(SliceSums s, OutputSet& outputs) {
  BandWriter band(outputs, s.nom.size());
  write_angle(band, s);
  write_band(kAngleGlobal, band, [&](int64_t p) {
    return cosine(s.nom_glob[p], s.absa_glob[p], s.absb_glob[p], false);
  });
  write_magnitude(band, s, rules::sqrt_of_minus_one());
  write_magnitude_global(band, s);
}

}  // namespace corvane
