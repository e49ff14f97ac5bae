#include "corvane_case.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "stats.h"

namespace cvtest {

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string s(static_cast<std::size_t>(n), '\0');
  std::vsnprintf(s.data(), s.size() + 1, fmt, again);
  va_end(again);
  return s;
}

float sqrt_minus_one() {
  volatile double m1 = -1.0;
  return static_cast<float>(std::sqrt(m1));
}

std::vector<float> filled(std::size_t n, float v) { return std::vector<float>(n, v); }

std::string unreadable_input(const Case& c, int64_t* size) {
  const std::string folder = c.dir.file("folder");
  struct stat st {};
  if (mkdir(folder.c_str(), 0755) != 0 || stat(folder.c_str(), &st) != 0) {
    throw std::runtime_error("cannot make " + folder);
  }
  *size = static_cast<int64_t>(st.st_size);
  return folder;
}

std::string Case::out(int n) const { return dir.file(std::string("o").append(std::to_string(n))); }

std::string Case::ref_file(std::size_t i) const {
  return params[i].ref_path.empty() ? dir.file("ref" + std::to_string(i)) : params[i].ref_path;
}
std::string Case::fut_file(std::size_t i) const {
  return params[i].fut_path.empty() ? dir.file("fut" + std::to_string(i)) : params[i].fut_path;
}

namespace {

std::string float_bytes(const std::vector<float>& v) {
  std::string s(v.size() * 4, '\0');
  if (!v.empty()) std::memcpy(s.data(), v.data(), s.size());
  return s;
}

}  // namespace

std::vector<std::string> Case::args() {
  if (grid.empty()) {
    for (int p = 0; p < npixel; ++p) {
      grid.push_back(static_cast<int16_t>(100 * p));
      grid.push_back(0);
    }
  }
  std::string g(grid.size() * 2, '\0');
  std::memcpy(g.data(), grid.data(), g.size());
  e2e::write_bytes(grid_file(), g);

  std::vector<std::string> a = {std::to_string(params.size()), std::to_string(range),
                                natveg ? "1" : "0"};
  if (natveg) {
    e2e::write_floats(natveg_file(), natvegfrac);
    a.push_back(natveg_file());
  }
  for (int v : {nyear_ref, nyear_fut, nyear_avg, startyear_ref, startyear_fut}) {
    a.push_back(std::to_string(v));
  }
  a.push_back(grid_file());
  a.push_back(res);
  for (std::size_t i = 0; i < params.size(); ++i) {
    const Param& p = params[i];
    if (p.ref_path.empty()) e2e::write_floats(ref_file(i), p.ref);
    if (p.fut_path.empty()) e2e::write_bytes(fut_file(i), float_bytes(p.fut) + p.fut_tail);
    a.insert(a.end(), {p.weight, ref_file(i), fut_file(i)});
    if (range != 0) a.insert(a.end(), {p.mean, p.std});
  }
  a.push_back(std::to_string(npixel));
  for (int n = 1; n <= 8; ++n) a.push_back(out(n));
  return a;
}

namespace {

// fread of n values at `offset`: whole values up to the end of the file; the rest NaN.
bool read_at(const std::string& bytes, int64_t offset, std::vector<float>& dst, int64_t n) {
  dst.assign(static_cast<std::size_t>(n), std::numeric_limits<float>::quiet_NaN());
  const auto size = static_cast<int64_t>(bytes.size());
  const int64_t avail = offset >= size ? 0 : (size - offset) / 4;
  const int64_t got = avail < n ? avail : n;
  if (got > 0) std::memcpy(dst.data(), bytes.data() + offset, static_cast<std::size_t>(got) * 4);
  return got == n;
}

double single(double v) { return static_cast<double>(static_cast<float>(v)); }

double cosine(double nom, double absa, double absb, bool magnitudes) {
  if (absa > 0.001 && absb > 0.001) return (single(nom) / std::sqrt(absa)) / std::sqrt(absb);
  if (magnitudes) return std::fabs(absa) <= 0.001 && std::fabs(absb) <= 0.001 ? 1.0 : 0.0;
  return absa <= 0.001 && absb <= 0.001 ? 1.0 : 0.0;
}

}  // namespace

Expected model(const Case& c) {
  Expected x;
  const auto npar = static_cast<int>(c.params.size());
  const int64_t np = c.npixel;
  const auto npx = static_cast<std::size_t>(np);
  double weight_sum = 0.0;
  std::vector<double> weight;
  for (const Param& p : c.params) {
    weight.push_back(std::atof(p.weight.c_str()));
    weight_sum += weight.back();
  }
  x.out += format("Number of parameters: %d\nSum of parameter weights: %lf\n", npar, weight_sum);
  for (double& w : weight) w = w / weight_sum;
  const double res = std::atof(c.res.c_str());
  const auto nlat = static_cast<int64_t>(180.0 / res + 0.0001);
  const auto nlon = static_cast<int64_t>(360.0 / res + 0.0001);

  std::vector<float> frac(npx, 1.0f);
  if (c.natveg) {
    for (std::size_t p = 0; p < npx; ++p) frac[p] = c.natvegfrac[p] < 0 ? 0.0f : c.natvegfrac[p];
  }
  FILE* grid = std::fopen(c.grid_file().c_str(), "rb");
  const int64_t ny = c.nyear_ref;
  const auto nyx = static_cast<std::size_t>(ny) * npx;
  std::vector<double> nom(npx), diffsq(npx), absa(npx), absb(npx);
  std::vector<double> nom_g(npx), diffsq_g(npx), absa_g(npx), absb_g(npx);
  std::vector<double> nom_ts(nyx), absa_ts(nyx), absb_ts(nyx), nom_tg(nyx), absa_tg(nyx),
      absb_tg(nyx);

  for (int i = 0; i < npar; ++i) {
    const auto ii = static_cast<std::size_t>(i);
    const std::string ref = e2e::read_bytes(c.ref_file(ii));
    const std::string fut = e2e::read_bytes(c.fut_file(ii));
    const int64_t nb = static_cast<int64_t>(ref.size()) / np / 4 / c.nyear_ref;
    const double w = weight[ii];
    const int64_t year = np * nb;

    std::vector<float> buf;
    std::vector<double> mref(npx), sref(npx), mfut(npx), sfut(npx);
    if (!read_at(ref, c.startyear_ref * year * 4, buf, year * c.nyear_avg)) {
      x.err += format("Error reading from file ifiles_ref[%d]\n", i);
    }
    raster::timeseries_mean_bsq_float(buf.data(), np, c.nyear_avg, nb, mref.data(), sref.data());
    if (!read_at(fut, int64_t{c.startyear_fut} * year * 4, buf, year * c.nyear_avg)) {
      x.err += format("Error reading from file ifiles_fut[%d]\n", i);
    }
    raster::timeseries_mean_bsq_float(buf.data(), np, c.nyear_avg, nb, mfut.data(), sfut.data());

    std::vector<double> gm(static_cast<std::size_t>(ny)), gs(static_cast<std::size_t>(ny));
    for (int64_t y = 0; y < ny; ++y) {
      if (!read_at(ref, y * year * 4, buf, year)) {
        x.err += format("Error reading from file ifiles_ref[%d]\n", i);
      }
      raster::global_mean_areaweighted_float(grid, buf.data(), np, nlat, nlon, 1, nb,
                                             &gm[static_cast<std::size_t>(y)],
                                             &gs[static_cast<std::size_t>(y)], frac.data());
    }
    double gmr = 0.0;
    double gsr = 0.0;
    for (int y = c.startyear_ref; y < c.startyear_ref + c.nyear_avg; ++y) {
      gmr += gm[static_cast<std::size_t>(y)] / c.nyear_avg;
    }
    for (int y = c.startyear_ref; y < c.startyear_ref + c.nyear_avg; ++y) {
      gsr += gs[static_cast<std::size_t>(y)] / c.nyear_avg;
    }
    double g = gmr;
    if (c.range != 0) {
      const double m = std::atof(c.params[ii].mean.c_str());
      x.out += format("supplied global_mean_ref %lf global_std_ref %lf\n", m,
                      std::atof(c.params[ii].std.c_str()));
      g = m;
    } else {
      x.out += format("global_mean_ref %lf global_std_ref %lf\n", gmr, gsr);
    }

    for (std::size_t p = 0; p < npx; ++p) {
      const double r = mref[p];
      const double f = mfut[p];
      absb[p] += w;
      if (std::fabs(r) > 0.001) {
        diffsq[p] += ((((f - r) * w) / r) * (f - r)) / r;
        nom[p] += (f * w) / r;
        absa[p] += (((f * w) * f) / r) / r;
      } else if (std::fabs(f) > 0.001) {
        diffsq[p] += (f - r) * ((f - r) * w);
        nom[p] += f * w;
        absa[p] += f * (f * w);
      } else {
        nom[p] += w;
        absa[p] += w;
      }
      diffsq_g[p] += ((f - r) * (((f - r) * w) / g)) / g;
      nom_g[p] += (f * ((r * w) / g)) / g;
      absa_g[p] += (f * ((f * w) / g)) / g;
      absb_g[p] += (r * ((r * w) / g)) / g;
    }

    for (int64_t y = 0; y < ny; ++y) {
      if (!read_at(ref, y * year * 4, buf, year)) {
        x.err += format("Error reading from file ifiles_ref[%d],error code %d,year %d\n", i, 0,
                        static_cast<int>(y));
      }
      for (int64_t b = 0; b < nb; ++b) {
        for (std::size_t p = 0; p < npx; ++p) {
          const double r = mref[p];
          const double v = static_cast<double>(buf[static_cast<std::size_t>(b * np) + p]);
          const std::size_t e = static_cast<std::size_t>(y) * npx + p;
          nom_tg[e] += (r * ((v * w) / g)) / g;
          absa_tg[e] += (v * ((v * w) / g)) / g;
          absb_tg[e] += (r * ((r * w) / g)) / g;
          if (std::fabs(r) > 0.001) {
            nom_ts[e] += (v * w) / r;
            absa_ts[e] += (((v * w) * v) / r) / r;
          } else {
            nom_ts[e] += v * w;
            absa_ts[e] += v * (v * w);
          }
          absb_ts[e] += w;
        }
      }
    }
  }
  std::fclose(grid);

  const double nan = static_cast<double>(sqrt_minus_one());
  auto put = [&x](int n, double v) {
    x.files[static_cast<std::size_t>(n - 1)].push_back(static_cast<float>(v));
  };
  for (std::size_t p = 0; p < npx; ++p) {
    const double v = cosine(nom[p], absa[p], absb[p], true);
    put(1, v);
    if (static_cast<float>(v) > 1.0f) {
      x.out +=
          format("p %d nom %lf absa %lf absb %lf\n", static_cast<int>(p), nom[p], absa[p], absb[p]);
    }
    put(5, cosine(nom_g[p], absa_g[p], absb_g[p], false));
  }
  std::array<std::vector<double>, 4> o2, o6;
  for (std::size_t p = 0; p < npx; ++p) {
    if (absa[p] > 0) absa[p] = std::sqrt(absa[p]);
    absb[p] = std::sqrt(absb[p]);
    o2[0].push_back(absb[p] < 0.001 || absa[p] < 0 ? -1.0 : (single(absa[p]) / absb[p]) * 100);
    o2[1].push_back(diffsq[p] >= 0 ? std::sqrt(diffsq[p]) : nan);
    o2[2].push_back(absa[p]);
    o2[3].push_back(absb[p]);
    absa_g[p] = std::sqrt(absa_g[p]);
    absb_g[p] = std::sqrt(absb_g[p]);
    o6[0].push_back(absb_g[p] > 0.001 ? (single(absa_g[p]) / absb_g[p]) * 100 : -1.0);
    o6[1].push_back(std::sqrt(diffsq_g[p]));
    o6[2].push_back(absa_g[p]);
    o6[3].push_back(absb_g[p]);
  }
  for (int band = 0; band < 4; ++band) {
    for (std::size_t p = 0; p < npx; ++p) {
      put(2, o2[static_cast<std::size_t>(band)][p]);
      put(6, o6[static_cast<std::size_t>(band)][p]);
    }
  }
  for (std::size_t e = 0; e < nyx; ++e) {
    put(3, cosine(nom_ts[e], absa_ts[e], absb_ts[e], false));
    put(4, absa_ts[e] >= 0 ? std::sqrt(absa_ts[e]) : nan);
    put(7, cosine(nom_tg[e], absa_tg[e], absb_tg[e], false));
    put(8, std::sqrt(absa_tg[e]));
  }
  return x;
}

}  // namespace cvtest
