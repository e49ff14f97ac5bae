// Sample model output for the demo: smooth, plausible monthly fields on a land grid.
//
//   samplegen GRIDFILE RES OUTDIR [--years N] [--seed N]
//
// writes into OUTDIR, for the reference years 1971.. and the future years 2071.. (N years each,
// default 30, 12 monthly bands per year, band-sequential float32):
//   tas_1971-2000.bin  tas_2071-2100.bin   near-surface temperature, K (0.01 K steps)
//   pr_1971-2000.bin   pr_2071-2100.bin    precipitation, mm/month (0.01 mm steps)
//   npp_1971-2000.bin  npp_2071-2100.bin   net primary productivity, gC/m2/month (0.001 steps)
//   natveg_fraction.bin                    natural-vegetation fraction, one band in [0, 1]
// The fields come from the grid alone: latitude, and the distance of each land cell to the
// nearest cell that is not land (a continentality and height proxy). Temperature falls with
// latitude and inland height, with a seasonal cycle opposite in the two hemispheres that grows
// inland; precipitation has an ITCZ that follows the sun, dry subtropical belts and mid-latitude
// storm tracks; productivity follows from both. Warming between the periods is strongest in the
// northern high latitudes in winter and over continental interiors; precipitation rises at high
// latitudes and falls in the subtropics. Smooth weather anomalies per month and a little noise
// make the years differ. The same arguments give the same bytes: the random numbers come from a
// fixed generator, and the values are rounded to the steps above, so that the last bit of the C
// library's mathematics does not reach the output.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "splitmix.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kDeg = kPi / 180.0;
constexpr double kKmPerDeg = 111.2;

[[noreturn]] void die(const std::string& msg) {
  std::fprintf(stderr, "samplegen: %s\n", msg.c_str());
  std::exit(2);
}

struct Pixel {
  double lon;     // degrees east
  double lat;     // degrees north
  double inland;  // km to the nearest cell that is not land
};

struct CloseFile {
  void operator()(FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<FILE, CloseFile>;

std::vector<Pixel> read_grid(const std::string& path) {
  const InputFile f(std::fopen(path.c_str(), "rb"));
  if (!f) die("cannot open " + path);
  std::vector<int16_t> rec;
  int16_t pair[2];
  while (std::fread(pair, sizeof pair, 1, f.get()) == 1) rec.insert(rec.end(), pair, pair + 2);
  if (std::ferror(f.get()) != 0) die("cannot read " + path);
  if (rec.empty()) die(path + " holds no pixel");
  std::vector<Pixel> px(rec.size() / 2);
  for (std::size_t p = 0; p < px.size(); ++p) {
    px[p] = {rec[2 * p] / 100.0, rec[2 * p + 1] / 100.0, 0.0};
  }
  return px;
}

// Distance of every land pixel to the nearest cell that is not land: shortest paths over the
// global grid of cells (8 neighbours, east-west steps shrinking with the cosine of latitude).
void set_inland_distance(std::vector<Pixel>& px, double res) {
  const auto ncol = static_cast<int64_t>(std::lround(360.0 / res));
  const auto nrow = static_cast<int64_t>(std::lround(180.0 / res));
  const auto cell_of = [&](const Pixel& p) {
    const int64_t row =
        std::clamp<int64_t>(static_cast<int64_t>((90.0 - p.lat) / res), 0, nrow - 1);
    const int64_t col =
        std::clamp<int64_t>(static_cast<int64_t>((p.lon + 180.0) / res), 0, ncol - 1);
    return row * ncol + col;
  };
  // Every cell without a pixel is a source at distance 0; land cells start unreached.
  std::vector<double> best(static_cast<std::size_t>(nrow * ncol), 0.0);
  for (const Pixel& p : px) best[static_cast<std::size_t>(cell_of(p))] = 1e30;
  using Item = std::pair<double, int64_t>;
  std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
  for (int64_t c = 0; c < nrow * ncol; ++c) {
    if (best[static_cast<std::size_t>(c)] == 0.0) queue.push({0.0, c});
  }
  const double ns = res * kKmPerDeg;
  while (!queue.empty()) {
    const auto [d, c] = queue.top();
    queue.pop();
    if (d > best[static_cast<std::size_t>(c)]) continue;
    const int64_t row = c / ncol;
    const int64_t col = c % ncol;
    for (int64_t dr = -1; dr <= 1; ++dr) {
      const int64_t r = row + dr;
      if (r < 0 || r >= nrow) continue;
      const double ew = ns * std::cos((90.0 - (static_cast<double>(r) + 0.5) * res) * kDeg);
      for (int64_t dc = -1; dc <= 1; ++dc) {
        if (dr == 0 && dc == 0) continue;
        const int64_t n = r * ncol + (col + dc + ncol) % ncol;
        const double step = std::sqrt(static_cast<double>(dr * dr) * ns * ns +
                                      static_cast<double>(dc * dc) * ew * ew);
        if (d + step < best[static_cast<std::size_t>(n)]) {
          best[static_cast<std::size_t>(n)] = d + step;
          queue.push({d + step, n});
        }
      }
    }
  }
  for (Pixel& p : px) p.inland = best[static_cast<std::size_t>(cell_of(p))];
}

// Where each pixel's longitude and latitude stand among the grid's distinct ones, so that
// functions of longitude or latitude alone are computed once per value, not once per pixel.
struct GridIndex {
  std::vector<double> lons, lats;
  std::vector<std::size_t> ilon, ilat;
};

GridIndex index_grid(const std::vector<Pixel>& px) {
  GridIndex g;
  for (const Pixel& p : px) {
    g.lons.push_back(p.lon);
    g.lats.push_back(p.lat);
  }
  for (auto* v : {&g.lons, &g.lats}) {
    std::sort(v->begin(), v->end());
    v->erase(std::unique(v->begin(), v->end()), v->end());
  }
  const auto where = [](const std::vector<double>& v, double x) {
    return static_cast<std::size_t>(std::lower_bound(v.begin(), v.end(), x) - v.begin());
  };
  for (const Pixel& p : px) {
    g.ilon.push_back(where(g.lons, p.lon));
    g.ilat.push_back(where(g.lats, p.lat));
  }
  return g;
}

// A smooth random field on the sphere: a few waves in longitude times waves in latitude, of
// about unit standard deviation, evaluated at every pixel.
std::vector<double> smooth_field(Rng& rng, const GridIndex& g, int waves, int max_number) {
  std::vector<double> v(g.ilon.size(), 0.0);
  std::vector<double> along_lon(g.lons.size()), along_lat(g.lats.size());
  const double scale = 2.0 / std::sqrt(static_cast<double>(waves));
  for (int k = 0; k < waves; ++k) {
    const double nlon = 1.0 + std::floor(rng.unit() * max_number);
    const double nlat = 1.0 + std::floor(rng.unit() * max_number);
    const double plon = 2.0 * kPi * rng.unit();
    const double plat = 2.0 * kPi * rng.unit();
    for (std::size_t i = 0; i < g.lons.size(); ++i) {
      along_lon[i] = scale * std::cos(nlon * g.lons[i] * kDeg + plon);
    }
    for (std::size_t i = 0; i < g.lats.size(); ++i) {
      along_lat[i] = std::cos(nlat * 2.0 * g.lats[i] * kDeg + plat);
    }
    for (std::size_t p = 0; p < v.size(); ++p) v[p] += along_lon[g.ilon[p]] * along_lat[g.ilat[p]];
  }
  return v;
}

// Approximately normal, from four uniforms (no C library mathematics).
double noise(Rng& rng) {
  return (rng.unit() + rng.unit() + rng.unit() + rng.unit() - 2.0) * 1.7320508075688772;
}

double bump(double x, double centre, double width) {
  const double z = (x - centre) / width;
  return std::exp(-z * z);
}

double round_to(double v, double step) { return std::nearbyint(v / step) * step; }

// What does not change from month to month: per pixel, from the grid and smooth fields.
struct Climate {
  double mean_c;        // annual mean temperature, degrees C
  double amplitude;     // half the seasonal range, signed (positive north)
  double warming;       // warming of a month relative to the global path
  double winter_boost;  // extra winter warming at northern high latitudes
  double wetness;       // long-term precipitation factor (monsoons, rain shadows)
  double wetter;        // precipitation change per degree of global warming
  double fertile;       // productivity factor
  double storm;         // storm-track rain share, reduced inland
  double dry;           // subtropical and inland drying factor
};

std::vector<Climate> make_climate(const std::vector<Pixel>& px, const GridIndex& g, uint64_t seed) {
  Rng rng{seed * 0x9e3779b97f4a7c15ULL + 11};
  const std::vector<double> regional = smooth_field(rng, g, 12, 6);
  const std::vector<double> monsoon = smooth_field(rng, g, 12, 5);
  const std::vector<double> change = smooth_field(rng, g, 10, 4);
  const std::vector<double> rain_change = smooth_field(rng, g, 10, 4);
  const std::vector<double> soil = smooth_field(rng, g, 10, 8);
  std::vector<Climate> cl(px.size());
  for (std::size_t p = 0; p < px.size(); ++p) {
    const Pixel& x = px[p];
    const double s = std::sin(x.lat * kDeg);
    const double inland = 1.0 - std::exp(-x.inland / 700.0);  // 0 on the coast, 1 far inland
    const double height_km = 1.6 * (1.0 - std::exp(-x.inland / 900.0));
    Climate& c = cl[p];
    c.mean_c = 29.0 - 46.0 * s * s - 6.5 * height_km + 1.5 * regional[p];
    c.amplitude = 0.30 * x.lat * (0.35 + 0.9 * inland);
    const double arctic = std::clamp((x.lat - 40.0) / 35.0, 0.0, 1.0);
    c.warming = 1.0 + 0.3 * inland + 1.0 * arctic + 0.15 * change[p];
    c.winter_boost = 1.5 * arctic;
    c.wetness = std::exp(0.45 * monsoon[p]);
    const double subtropics = bump(std::fabs(x.lat), 25.0, 8.0);
    // Rain shadows of the continents' interiors, except in the tropics' convection.
    const double interior = (1.0 - std::exp(-x.inland / 1500.0)) * (1.0 - bump(x.lat, 0.0, 15.0));
    c.dry = (1.0 - 0.8 * subtropics) * (1.0 - 0.7 * interior);
    c.storm = 80.0 * bump(std::fabs(x.lat), 50.0, 12.0) * (1.0 - 0.5 * inland);
    c.wetter = 0.05 * arctic + 0.03 * rain_change[p] - 0.035 * subtropics;
    c.fertile = std::exp(0.15 * soil[p]);
  }
  return cl;
}

// Global land warming in degrees C since the middle of the twentieth century.
double global_warming(double year) {
  const double t = std::max(0.0, (year - 1950.0) / 150.0);
  return 3.6 * t * t;
}

struct Bands {
  std::vector<float> tas, pr, npp;
};

// The three variables of one month of one year.
void make_month(const std::vector<Pixel>& px, const GridIndex& g, const std::vector<Climate>& cl,
                int year, int month, uint64_t seed, Bands& out) {
  Rng rng{(seed * 1000003ULL + static_cast<uint64_t>(year)) * 13ULL + static_cast<uint64_t>(month)};
  const std::vector<double> weather = smooth_field(rng, g, 6, 7);
  const std::vector<double> rain_weather = smooth_field(rng, g, 6, 9);
  const double warming = global_warming(year + (month + 0.5) / 12.0);
  const double phase = std::cos(2.0 * kPi * month / 12.0);  // 1 in January, -1 in July
  const double north_winter = 0.5 * (1.0 + phase);
  const double itcz = 4.0 + 9.0 * std::cos(2.0 * kPi * (month - 6.5) / 12.0);
  for (std::size_t p = 0; p < px.size(); ++p) {
    const Pixel& x = px[p];
    const Climate& c = cl[p];
    const double winter = x.lat >= 0.0 ? north_winter : 1.0 - north_winter;
    const double anomaly = weather[p] * (0.6 + std::fabs(x.lat) / 50.0);
    const double t = c.mean_c - c.amplitude * phase +
                     warming * (c.warming + c.winter_boost * winter) + anomaly + 0.3 * noise(rng);

    const double tropics = 150.0 * bump(x.lat, itcz, 7.0) + 90.0 * bump(x.lat, 0.6 * itcz, 16.0);
    const double rain = (10.0 + tropics + c.storm * (0.8 + 0.4 * winter)) * c.wetness * c.dry *
                        (1.0 + c.wetter * warming);
    const double pr = std::max(0.0, rain * std::exp(0.3 * rain_weather[p] + 0.05 * noise(rng)));

    const double warm = 1.0 / (1.0 + std::exp(-(t - 8.0) / 4.0));
    const double moist = 1.0 - std::exp(-pr / 60.0);
    const double npp = 170.0 * warm * moist * c.fertile * (1.0 + 0.06 * warming);

    out.tas[p] = static_cast<float>(round_to(t + 273.15, 0.01));
    out.pr[p] = static_cast<float>(round_to(pr, 0.01));
    out.npp[p] = static_cast<float>(round_to(npp, 0.001));
  }
}

class Output {
 public:
  explicit Output(const std::string& path) : path_(path), f_(std::fopen(path.c_str(), "wb")) {
    if (f_ == nullptr) die("cannot create " + path);
  }
  ~Output() {
    if (f_ != nullptr) std::fclose(f_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  void write(const std::vector<float>& band) {
    if (std::fwrite(band.data(), sizeof(float), band.size(), f_) != band.size()) {
      die("cannot write " + path_);
    }
  }
  void close() {
    const int st = std::fclose(f_);
    f_ = nullptr;
    if (st != 0) die("cannot write " + path_);
  }

 private:
  std::string path_;
  FILE* f_;
};

void write_period(const std::vector<Pixel>& px, const GridIndex& g, const std::vector<Climate>& cl,
                  const std::string& dir, int first, int years, uint64_t seed) {
  const std::string span = std::to_string(first) + "-" + std::to_string(first + years - 1);
  Output tas(dir + "/tas_" + span + ".bin");
  Output pr(dir + "/pr_" + span + ".bin");
  Output npp(dir + "/npp_" + span + ".bin");
  Bands b{std::vector<float>(px.size()), std::vector<float>(px.size()),
          std::vector<float>(px.size())};
  for (int y = first; y < first + years; ++y) {
    for (int m = 0; m < 12; ++m) {
      make_month(px, g, cl, y, m, seed, b);
      tas.write(b.tas);
      pr.write(b.pr);
      npp.write(b.npp);
    }
  }
  tas.close();
  pr.close();
  npp.close();
}

// Natural vegetation: most where it is cold, dry or remote, least in the warm, wet and
// productive regions that are farmed.
void write_natveg(const std::vector<Pixel>& px, const GridIndex& g, const std::vector<Climate>& cl,
                  const std::string& dir, uint64_t seed) {
  Rng rng{seed * 0x2545f4914f6cdd1dULL + 5};
  const std::vector<double> use = smooth_field(rng, g, 12, 7);
  std::vector<float> band(px.size());
  for (std::size_t p = 0; p < px.size(); ++p) {
    const Climate& c = cl[p];
    const double cold = std::clamp((2.0 - c.mean_c) / 12.0, 0.0, 1.0);
    const double dry = std::clamp(1.0 - c.wetness * c.dry, 0.0, 1.0);
    const double remote = 1.0 - std::exp(-px[p].inland / 900.0);
    const double v = 0.2 + 0.4 * cold + 0.3 * dry + 0.2 * remote + 0.15 * use[p];
    band[p] = static_cast<float>(round_to(std::clamp(v, 0.0, 1.0), 0.001));
  }
  Output out(dir + "/natveg_fraction.bin");
  out.write(band);
  out.close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) die("use: samplegen GRIDFILE RES OUTDIR [--years N] [--seed N]");
  const std::string grid = argv[1];
  const double res = std::atof(argv[2]);
  const std::string dir = argv[3];
  int years = 30;
  uint64_t seed = 1;
  for (int i = 4; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--years") == 0) {
      years = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--seed") == 0) {
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    } else {
      die(std::string("unknown option ") + argv[i]);
    }
  }
  if (!(res > 0.0 && res <= 10.0)) die("RES must be a resolution in degrees");
  if (years <= 0 || years > 100) die("--years must be 1 to 100");

  std::vector<Pixel> px = read_grid(grid);
  set_inland_distance(px, res);
  const GridIndex g = index_grid(px);
  const std::vector<Climate> cl = make_climate(px, g, seed);
  write_period(px, g, cl, dir, 1971, years, seed);
  write_period(px, g, cl, dir, 2071, years, seed);
  write_natveg(px, g, cl, dir, seed);
  return 0;
}
