// rastertools calc: the band tools (sum, mult, div, add, scale, limits, logistic, slivet) with
// named options, band ranges in calendar years and months, and an output that keeps the input's
// time axis.
#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "band_jobs.h"
#include "bandmath.h"
#include "import_run.h"
#include "job_input.h"
#include "job_output.h"
#include "parallel.h"
#include "tool.h"
#include "tool_call.h"

namespace jobs {
namespace {

using interop::ToolError;
namespace imp = interop::importer;

constexpr const char* kProgram = "rastertools-calc";

const char* const kDescription =
    "Band arithmetic on NetCDF or raw files with their sidecar, through the band tools' own\n"
    "computation (values identical to sum, mult, div, add, scale, limits, logistic, slivet):\n"
    "  sum A B        A + B              product A B     A * B\n"
    "  quotient A B   A / B (a divisor below 1e-5 in magnitude gives --zero-divisor; quotients\n"
    "                 above 1000 are set to 1000, each reported)\n"
    "  add A --value C   scale A --factor F   limits A --lower L --upper U (values outside\n"
    "                 replaced by the bound, and counted)   logistic A [--midpoint ...]\n"
    "  select A --months M1-M2 (or --bands-of-year, --bands): the same bands of every year\n"
    "Bands are chosen by calendar years (--years A-B) or months (--from 1971-03 --to 1980-11)\n"
    "of the input's time axis; two inputs are paired date by date (or --years2 for other\n"
    "years of B). The output keeps the time axis of A. docs/calc.md has it all.";

const char* const kExample =
    "  rastertools calc quotient pr_ssp585.nc pr_hist.nc -o ratio.nc --years 2071-2080 \\\n"
    "      --years2 1971-1980 --zero-divisor dividend\n"
    "  rastertools calc limits tas.nc -o tas_clamped.nc --lower 200 --upper 330\n"
    "  rastertools calc select pr.nc -o pr_jja.nc --months 6-8 --years 1971-2000";

enum class Op { sum, product, quotient, add, scale, limits, logistic, select };

struct OpInfo {
  const char* name;
  Op op;
  int ninputs;
  const char* help;
};

constexpr OpInfo kOps[] = {
    {"sum", Op::sum, 2, "A + B band by band (the sum tool)"},
    {"product", Op::product, 2, "A * B band by band (the mult tool)"},
    {"quotient", Op::quotient, 2, "A / B band by band (the div tool)"},
    {"add", Op::add, 1, "A + a constant (the add tool)"},
    {"scale", Op::scale, 1, "A * a factor (the scale tool)"},
    {"limits", Op::limits, 1, "A clamped to [lower, upper] (the limits tool)"},
    {"logistic", Op::logistic, 1, "A through a logistic curve (the logistic tool)"},
    {"select", Op::select, 1, "the same bands of every year of A (the slivet tool)"},
};

struct Args {
  const OpInfo* op = nullptr;
  std::vector<std::string> inputs;
  std::string output, format = "netcdf", var, var2, years, years2, from, to, bands;
  std::string name, units, long_name;
  std::optional<std::string> grid;
  // Per operation.
  std::optional<double> value, factor, lower, upper;
  double midpoint = 3.0, rate = 2.0, lower_asymptote = 0.0, upper_asymptote = 1.0;
  std::string zero_divisor = "9999";
  std::string months, bands_of_year;
};

void add_common(CLI::App& sub, Args& a, int ninputs) {
  if (ninputs == 2) {
    sub.add_option("A", a.inputs, "The two inputs: A, then B")->required()->expected(2);
  } else {
    sub.add_option("A", a.inputs, "The input")->required()->expected(1);
  }
  sub.add_option("-o,--output", a.output, "Output: NAME.nc, or NAME.bin with --format raw")
      ->required();
  sub.add_option("--format", a.format, "netcdf (default) or raw (raw file, grid file, sidecar)");
  sub.add_option("--var", a.var, "NetCDF variable of the input(s) (default: the only one)");
  if (ninputs == 2) sub.add_option("--var2", a.var2, "NetCDF variable of B (default: --var)");
  sub.add_option("--grid", a.grid, "Grid file: the pixels (default: the inputs')");
  auto* years = sub.add_option("--years", a.years, "Calendar years of A, Y1-Y2 (default: all)");
  auto* from = sub.add_option("--from", a.from, "First year or month of A: Y or Y-MM");
  auto* to = sub.add_option("--to", a.to, "Last year or month of A: Y or Y-MM");
  auto* bands = sub.add_option("--bands", a.bands, "Bands A-B (0-based) of an input without dates");
  years->excludes(from)->excludes(to)->excludes(bands);
  bands->excludes(from)->excludes(to);
  if (ninputs == 2)
    sub.add_option("--years2", a.years2, "Calendar years of B (default: the dates of A's bands)");
  sub.add_option("--name", a.name, "Output variable name (default: A's)");
  sub.add_option("--units", a.units, "Output units (default: A's where the values keep them)");
  sub.add_option("--long-name", a.long_name, "Output long name");
}

void add_op_options(CLI::App& sub, Op op, Args& a) {
  switch (op) {
    case Op::quotient:
      sub.add_option("--zero-divisor", a.zero_divisor,
                     "Result where |B| < 1e-5: a number (default 9999) or 'dividend' (A's value)");
      break;
    case Op::add:
      sub.add_option("--value", a.value, "The constant added")->required();
      break;
    case Op::scale:
      sub.add_option("--factor", a.factor, "The factor")->required();
      break;
    case Op::limits:
      sub.add_option("--lower", a.lower, "Lower bound")->required();
      sub.add_option("--upper", a.upper, "Upper bound")->required();
      break;
    case Op::logistic:
      sub.add_option("--midpoint", a.midpoint, "Input value of the steepest growth (default 3)");
      sub.add_option("--rate", a.rate, "Growth rate (default 2)");
      sub.add_option("--lower-asymptote", a.lower_asymptote, "Lower asymptote (default 0)");
      sub.add_option("--upper-asymptote", a.upper_asymptote, "Upper asymptote (default 1)");
      break;
    case Op::select:
      sub.add_option("--months", a.months, "Months M1-M2 (1-12) of every year of monthly data");
      sub.add_option("--bands-of-year", a.bands_of_year,
                     "Bands B1-B2 (0-based) of every year, for any bands per year");
      break;
    case Op::sum:
    case Op::product:
      break;
  }
}

// An operation CLI11 would only call "not expected" is named with the ones there are.
void refuse_unknown_operation(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '-') return;
  std::string known;
  for (const OpInfo& op : kOps) {
    if (argv[1] == std::string(op.name)) return;
    known += std::string(known.empty() ? "" : ", ") + op.name;
  }
  throw interop::usage_error("unknown operation '" + std::string(argv[1]) + "': give one of " +
                             known);
}

Args parse(int argc, char** argv) {
  refuse_unknown_operation(argc, argv);
  CLI::App app;
  interop::setup_app(app, kDescription, kExample);
  app.name(kProgram);
  app.require_subcommand(1);
  Args a;
  std::vector<std::pair<CLI::App*, const OpInfo*>> subs;
  for (const OpInfo& op : kOps) {
    CLI::App* sub = app.add_subcommand(op.name, op.help);
    add_common(*sub, a, op.ninputs);
    add_op_options(*sub, op.op, a);
    subs.emplace_back(sub, &op);
  }
  interop::parse_command_line(app, argc, argv);
  for (const auto& [sub, op] : subs)
    if (sub->parsed()) a.op = op;
  return a;
}

// The shortest decimal that reads back as `v`, for texts people read.
std::string exact_text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// ---- band ranges ----

// A range of bands of an input, 0-based and inclusive, with what named it for messages.
struct BandSpan {
  int64_t first = 0;
  int64_t last = 0;
  int64_t count() const { return last - first + 1; }
};

int64_t total_bands(const Input& in) { return in.nyears * in.bands_per_year; }

std::string dates_text(const Input& in, const BandSpan& s) {
  if (!in.first_year) return "bands " + std::to_string(s.first) + "-" + std::to_string(s.last);
  return interop::band_label(*in.first_year, in.bands_per_year, s.first) + " to " +
         interop::band_label(*in.first_year, in.bands_per_year, s.last);
}

// "Y" or "Y-MM": the year and, when given, the month (1-12).
struct YearMonth {
  int64_t year = 0;
  std::optional<int> month;
};

YearMonth parse_year_month(const std::string& option, const std::string& text) {
  YearMonth ym;
  size_t used = 0;
  const size_t dash = text.find('-', 1);  // a leading '-' is a negative year
  try {
    ym.year = std::stoll(text.substr(0, dash), &used);
    if (used != (dash == std::string::npos ? text.size() : dash)) throw std::invalid_argument("");
    if (dash != std::string::npos) {
      const std::string m = text.substr(dash + 1);
      const int month = std::stoi(m, &used);
      if (used != m.size() || month < 1 || month > 12) throw std::invalid_argument("");
      ym.month = month;
    }
  } catch (const std::exception&) {
    throw interop::usage_error(option + " '" + text + "' is not a year Y or a month Y-MM");
  }
  return ym;
}

imp::YearRange years_option(const std::string& option, const std::string& text) {
  try {
    return imp::parse_year_range(text);
  } catch (const ToolError&) {
    throw interop::usage_error(option + " '" + text + "' is not a year or a range Y1-Y2");
  }
}

// "A-B" of non-negative integers within [lo, hi].
BandSpan parse_span(const std::string& option, const std::string& text, int64_t lo, int64_t hi,
                    const std::string& where) {
  BandSpan s;
  size_t used = 0;
  try {
    const size_t dash = text.find('-');
    s.first = std::stoll(text.substr(0, dash), &used);
    if (used != (dash == std::string::npos ? text.size() : dash) || text[0] == '-' ||
        text[0] == '+')
      throw std::invalid_argument("");
    s.last = s.first;
    if (dash != std::string::npos) {
      const std::string b = text.substr(dash + 1);
      s.last = std::stoll(b, &used);
      if (used != b.size() || b.empty() || b[0] == '-' || b[0] == '+')
        throw std::invalid_argument("");
    }
  } catch (const std::exception&) {
    throw interop::usage_error(option + " '" + text + "' is not a number or a range A-B");
  }
  if (s.first > s.last || s.first < lo || s.last > hi)
    throw ToolError(option + " " + text + ": " + where + " has " + std::to_string(lo) + "-" +
                    std::to_string(hi));
  return s;
}

// Year `year`'s band (month 1-12, or the year's first or last band) in `in`; a refusal names
// the option and the years the file holds.
int64_t band_of(const Input& in, const std::string& option, const std::string& text, bool last) {
  if (!in.first_year)
    throw ToolError(option + " " + text + ": " + quote(in.path) +
                    " has no time axis; give --bands");
  const YearMonth ym = parse_year_month(option, text);
  if (ym.month && in.bands_per_year != 12)
    throw ToolError(option + " " + text + ": " + quote(in.path) + " has " +
                    std::to_string(in.bands_per_year) + " bands a year, not months; give a year");
  if (ym.year < *in.first_year || ym.year >= *in.first_year + in.nyears)
    throw ToolError(option + " " + text + ": " + quote(in.path) + " holds the years " +
                    in.years_text());
  const int64_t year_band = (ym.year - *in.first_year) * in.bands_per_year;
  if (ym.month) return year_band + *ym.month - 1;
  return last ? year_band + in.bands_per_year - 1 : year_band;
}

// The bands of A the options choose (default: all).
BandSpan span_of_first(const Args& a, const Input& in) {
  if (!a.bands.empty()) {
    if (in.first_year)
      throw interop::usage_error("--bands: " + quote(in.path) + " has a time axis (" +
                                 in.years_text() + "); give --years or --from/--to");
    return parse_span("--bands", a.bands, 0, total_bands(in) - 1, quote(in.path));
  }
  if (!a.years.empty()) {
    const YearSpan y = select_years(in, years_option("--years", a.years), "--years");
    return {y.first * in.bands_per_year, (y.first + y.count) * in.bands_per_year - 1};
  }
  BandSpan s{0, total_bands(in) - 1};
  if (!a.from.empty()) s.first = band_of(in, "--from", a.from, false);
  if (!a.to.empty()) s.last = band_of(in, "--to", a.to, true);
  if (s.first > s.last)
    throw interop::usage_error("--from " + a.from + " comes after --to " + a.to);
  return s;
}

// The bands of B paired with A's `s`: the same dates, --years2, or (without dates in one of
// them) the same count of bands from B's first.
BandSpan span_of_second(const Args& a, const Input& in1, const BandSpan& s, const Input& in2) {
  const int64_t n = s.count();
  if (!a.years2.empty()) {
    const YearSpan y = select_years(in2, years_option("--years2", a.years2), "--years2");
    same_bands_per_year(in1, in2, "--years2 pairs the bands of each year");
    const BandSpan s2{y.first * in2.bands_per_year, (y.first + y.count) * in2.bands_per_year - 1};
    if (s2.count() != n)
      throw ToolError("--years2 " + a.years2 + " gives " + std::to_string(s2.count()) +
                      " bands of " + quote(in2.path) + " but A's range (" + dates_text(in1, s) +
                      ") has " + std::to_string(n));
    return s2;
  }
  if (in1.first_year && in2.first_year) {
    same_bands_per_year(in1, in2, "the inputs are paired date by date");
    const int64_t first = s.first + (*in1.first_year - *in2.first_year) * in1.bands_per_year;
    if (first < 0 || first + n > total_bands(in2))
      throw ToolError(quote(in2.path) + " holds the years " + in2.years_text() + ", not " +
                      dates_text(in1, s) + " of " + quote(in1.path) +
                      "; give --years2 to pair other years");
    return {first, first + n - 1};
  }
  // Without dates on one side the bands pair by position: B must hold exactly as many, or
  // (neither dated, --bands given) the same band numbers.
  const bool same_positions = !in1.first_year && !in2.first_year && !a.bands.empty();
  const int64_t have = total_bands(in2);
  if (same_positions ? s.last >= have : have != n)
    throw ToolError(
        quote(in2.path) + " has " + std::to_string(have) + " bands (" +
        (in2.first_year ? "years " + in2.years_text() : "no time axis") + ") and " +
        quote(in1.path) + " " + std::to_string(n) + " in its range (" + dates_text(in1, s) +
        "): nothing pairs them" +
        (in1.first_year || in2.first_year ? "; give --years2 or inputs with dates" : ""));
  return same_positions ? s : BandSpan{0, n - 1};
}

// ---- the tool's command line ----

std::string number(const std::string& option, double v) {
  if (!std::isfinite(v)) throw interop::usage_error(option + " must be a finite number");
  return exact_number(v);
}

// div's nanvalue: a number, or -1 for "the dividend" (which the tool takes within 1e-5 of -1).
std::string zero_divisor(const std::string& text) {
  if (text == "dividend") return "-1";
  double v = 0;
  size_t used = 0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || text.empty() || !std::isfinite(v))
    throw interop::usage_error("--zero-divisor '" + text +
                               "' is not a finite number or 'dividend'");
  if (std::abs(v + 1.0) < 1e-5)
    throw interop::usage_error("--zero-divisor " + text +
                               " would be taken as 'dividend' (values within 1e-5 of -1 mean "
                               "the dividend); give --zero-divisor dividend");
  return exact_number(v);
}

struct Call {
  int (*entry)(int, char**) = nullptr;
  const char* tool = nullptr;
  std::vector<std::string> args;
  bool band_line = true;  // the tool prints a band line first
};

Call tool_call(const Args& a, const std::vector<std::string>& in, const std::string& out,
               int64_t npixel, const BandSpan& s1, const BandSpan& s2) {
  const std::string np = std::to_string(npixel);
  const std::string b1 = std::to_string(s1.first), e1 = std::to_string(s1.last);
  const std::string b2 = std::to_string(s2.first), e2 = std::to_string(s2.last);
  switch (a.op->op) {
    case Op::sum:
      return {bandmath::run_sum, "sum", {in[0], in[1], out, np, b1, e1, b2, e2}};
    case Op::product:
      return {bandmath::run_mult, "mult", {in[0], in[1], out, np, b1, e1, b2, e2}};
    case Op::quotient:
      return {bandmath::run_div,
              "div",
              {in[0], in[1], out, np, b1, e1, b2, e2, zero_divisor(a.zero_divisor)}};
    case Op::add:
      return {bandmath::run_add, "add", {in[0], out, number("--value", *a.value), np, b1, e1}};
    case Op::scale:
      return {
          bandmath::run_scale, "scale", {in[0], out, number("--factor", *a.factor), np, b1, e1}};
    case Op::limits:
      return {bandmath::run_limits,
              "limits",
              {in[0], out, np, number("--lower", *a.lower), number("--upper", *a.upper), b1, e1}};
    case Op::logistic:
      return {bandmath::run_logistic,
              "logistic",
              {in[0], out, np, number("--midpoint", a.midpoint), number("--rate", a.rate),
               number("--lower-asymptote", a.lower_asymptote),
               number("--upper-asymptote", a.upper_asymptote), b1, e1},
              false};
    case Op::select:
      // s2 is the block: its count the bands of a block, its first..last the bands kept.
      return {bandmath::run_slivet,
              "slivet",
              {in[0], out, np, std::to_string(s2.count()), b1, e1},
              false};
  }
  throw ToolError("unknown operation");
}

// ---- the output ----

std::string label_of(const Input& in) {
  return in.label.empty() ? std::filesystem::path(in.path).filename().string() : in.label;
}

// Units and long name the values keep, or a description of what was done to them.
void describe(const Args& a, const std::vector<Input>& in, OutputVariable& v) {
  const std::string x = label_of(in[0]);
  const std::string y = in.size() > 1 ? label_of(in[1]) : "";
  std::string units, long_name;
  switch (a.op->op) {
    case Op::sum:
      if (in[0].units == in[1].units) units = in[0].units;
      long_name = x + " + " + y;
      break;
    case Op::product:
      long_name = x + " * " + y;
      break;
    case Op::quotient:
      if (in[0].units == in[1].units && !in[0].units.empty()) units = "1";
      long_name = x + " / " + y;
      break;
    case Op::add:
      units = in[0].units;
      long_name = x + " + " + exact_text(*a.value);
      break;
    case Op::scale:
      long_name = x + " * " + exact_text(*a.factor);
      break;
    case Op::limits:
      units = in[0].units;
      long_name = x + " limited to [" + exact_text(*a.lower) + ", " + exact_text(*a.upper) + "]";
      break;
    case Op::logistic:
      long_name = "logistic(" + x + ")";
      break;
    case Op::select:
      units = in[0].units;
      long_name = in[0].long_name.empty() ? x : in[0].long_name;
      break;
  }
  v.name = !a.name.empty() ? a.name : (in[0].label.empty() ? "value" : in[0].label);
  v.units = !a.units.empty() ? a.units : units;
  v.long_name = !a.long_name.empty() ? a.long_name : long_name;
}

// The bands kept of every block by select, from --months, --bands-of-year or --bands.
BandSpan kept_of_year(const Args& a, const Input& in) {
  const int given = !a.months.empty() + !a.bands_of_year.empty() + !a.bands.empty();
  if (given != 1)
    throw interop::usage_error("select: give one of --months, --bands-of-year or --bands");
  if (!a.months.empty()) {
    if (!in.first_year || in.bands_per_year != 12)
      throw ToolError("--months " + a.months + ": " + quote(in.path) + " does not hold months (" +
                      std::to_string(in.bands_per_year) + " bands a year" +
                      (in.first_year ? "" : ", no time axis") + "); give --bands-of-year");
    const BandSpan m = parse_span("--months", a.months, 1, 12, "a year");
    return {m.first - 1, m.last - 1};
  }
  if (!a.bands_of_year.empty())
    return parse_span("--bands-of-year", a.bands_of_year, 0, in.bands_per_year - 1,
                      "a year of " + quote(in.path));
  return {0, 0};  // --bands: the range itself, taken as the block
}

// The bands a run takes, in the inputs' own positions: A's range, B's paired range, and for
// select the bands kept of every year (or of the --bands block).
struct Plan {
  BandSpan s1, s2, kept;
};

Plan choose_bands(const Args& a, const std::vector<Input>& in) {
  Plan p;
  if (a.op->op != Op::select) {
    if (!a.months.empty() || !a.bands_of_year.empty())
      throw interop::usage_error("--months and --bands-of-year belong to select");
    p.s1 = span_of_first(a, in[0]);
    if (in.size() == 2) p.s2 = span_of_second(a, in[0], p.s1, in[1]);
    return p;
  }
  // select cuts the same bands out of every year: whole years only.
  if (!a.from.empty() || !a.to.empty())
    throw interop::usage_error("select takes whole years: give --years");
  p.kept = kept_of_year(a, in[0]);
  p.s1 = span_of_first(a, in[0]);
  return p;
}

// The band positions the tool is given within the images, and what it writes: for select the
// block (a year, or the whole --bands input) in s2 and the bands kept in s1.
struct ToolBands {
  BandSpan t1, t2;
  int64_t nbands = 0;
};

ToolBands tool_bands(const Args& a, const std::vector<Input>& in, const std::vector<Image>& img,
                     const Plan& p) {
  const auto in_image = [&](size_t i, const BandSpan& s) {
    const int64_t shift = img[i].first * in[i].bands_per_year;
    return BandSpan{s.first - shift, s.last - shift};
  };
  if (a.op->op != Op::select)
    return {in_image(0, p.s1), in.size() > 1 ? in_image(1, p.s2) : BandSpan{}, p.s1.count()};
  if (!a.bands.empty()) return {p.s1, {0, total_bands(in[0]) - 1}, p.s1.count()};
  const int64_t bpy = in[0].bands_per_year;
  return {p.kept, {0, bpy - 1}, p.s1.count() / bpy * p.kept.count()};
}

// The output: A's variable (or what was done to it) on A's time axis from the range's first
// band; months kept of every year, or a range from March, keep their dates.
OutputDesc output_desc(const Args& a, const std::vector<Input>& in, const Plan& p, int64_t nbands) {
  OutputDesc desc;
  desc.path = a.output;
  desc.nbands = nbands;
  OutputVariable v;
  describe(a, in, v);
  v.nsteps = nbands;
  desc.variables.push_back(v);
  const Input& x = in[0];
  if (!x.first_year || !a.bands.empty()) return desc;
  const int64_t bpy = x.bands_per_year;
  const bool select = a.op->op == Op::select;
  desc.first_year = *x.first_year + p.s1.first / bpy;
  desc.bands_per_year = bpy;
  desc.calendar = x.calendar;
  const int64_t offset = select ? p.kept.first : p.s1.first % bpy;
  const int64_t keep = select ? p.kept.count() : bpy;
  if (offset != 0 || keep != bpy) desc.year_part = interop::ExportJob::YearPart{offset, keep};
  return desc;
}

// The images: NetCDF inputs decoded for the years of their range, raw inputs as they are
// (select cuts whole blocks, so it gets the years of its range only).
std::vector<Image> images(const Args& a, const std::vector<Input>& in, const Plan& p,
                          std::optional<JobGrid>& grid) {
  raster::ThreadTeam team(raster::default_thread_count());
  const bool whole = a.op->op != Op::select || !a.bands.empty();
  const auto image_of = [&](const Input& x, const BandSpan& s) {
    if ((!x.netcdf && whole) || !x.first_year) return materialise_all(x, grid, team, kProgram);
    const int64_t bpy = x.bands_per_year;
    return materialise(x, {s.first / bpy, s.last / bpy - s.first / bpy + 1}, grid, team, kProgram);
  };
  std::vector<Image> img;
  img.push_back(image_of(in[0], p.s1));
  if (in.size() > 1) img.push_back(image_of(in[1], p.s2));
  return img;
}

// What was done, in dates; then what the tool said beyond its band line (which counts
// positions in the images), such as the values limits replaced.
void print_summary(const Args& a, const std::vector<Input>& in, const Plan& p, int64_t nbands,
                   int64_t npixel, std::string said, bool band_line) {
  if (band_line)
    said.erase(0, said.find('\n') == std::string::npos ? said.size() : said.find('\n') + 1);
  std::printf("calc %s: %s (%s)", a.op->name, quote(in[0].path).c_str(),
              dates_text(in[0], p.s1).c_str());
  if (in.size() > 1)
    std::printf(" with %s (%s)", quote(in[1].path).c_str(), dates_text(in[1], p.s2).c_str());
  std::printf(": %lld bands of %lld pixels to %s\n", static_cast<long long>(nbands),
              static_cast<long long>(npixel), a.output.c_str());
  std::fputs(said.c_str(), stdout);
  if (std::fflush(stdout) != 0) throw ToolError("cannot write to standard output");
}

int run(int argc, char** argv) {
  const Args a = parse(argc, argv);
  const Format format = parse_format(a.format);
  if (a.op->op == Op::limits && *a.lower > *a.upper)
    throw interop::usage_error("--lower " + exact_text(*a.lower) + " is above --upper " +
                               exact_text(*a.upper) + ": every value would be replaced");

  std::optional<JobGrid> grid;
  if (a.grid) grid = grid_from_file(*a.grid);
  std::vector<Input> in;
  in.push_back(open_input(a.inputs[0], a.var, a.grid, kProgram));
  if (a.op->ninputs == 2)
    in.push_back(open_input(a.inputs[1], a.var2.empty() ? a.var : a.var2, a.grid, kProgram));
  const Plan plan = choose_bands(a, in);
  const std::vector<Image> img = images(a, in, plan, grid);
  const ToolBands tb = tool_bands(a, in, img, plan);

  std::vector<std::string> inputs(a.inputs.begin(), a.inputs.end());
  if (a.grid) inputs.push_back(*a.grid);
  OutputSet outputs(format, *grid, imp::default_grid_out(a.output), inputs,
                    job_history("calc", argc, argv));
  const std::string tool_out = outputs.add(output_desc(a, in, plan, tb.nbands));
  std::vector<std::string> paths;
  for (const Image& i : img) paths.push_back(i.path);
  Call call = tool_call(a, paths, tool_out, grid->npixel(), tb.t1, tb.t2);
  call.args.insert(call.args.begin(), call.tool);
  const ToolRun tool = call_tool(call.entry, call.args);
  if (tool.status != 0) {  // its own message is out; nothing is renamed into place
    std::fputs(tool.out.c_str(), stdout);
    return tool.status;
  }
  outputs.finish(kProgram);
  print_summary(a, in, plan, tb.nbands, grid->npixel(), tool.out, call.band_line);
  return 0;
}

}  // namespace

int run_calc(int argc, char** argv) {
  return interop::run_tool(kProgram, [&] { return run(argc, argv); });
}

}  // namespace jobs
