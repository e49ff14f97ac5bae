// The seven band range tools as rows of one table over the engine. Every difference between
// them is a field here (the defaults in engine.h are what most rows share); the engine never
// asks which tool it runs.
#pragma once

#include "engine.h"
#include "kernels.h"

namespace bandmath {

// file1 + file2 band by band: ifile1 ifile2 ofile npixel [startband1 endband1 startband2
// endband2].
inline constexpr Tool kSum = {
    .name = "sum",
    .usage =
        "Use:\n%s ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
        "startband2(0) endband2(all)]\nCalculates file1+file2\n",
    .args = kTwoFiles,
    .band_line = BandLine::two_ranges,
    .range_rule = RangeRule::equal_lengths,
    .kernel = sum_values,
};

inline constexpr Tool kMult = {
    .name = "mult",
    .usage =
        "Use:\n%s ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
        "startband2(0) endband2(all)]\nCalculates file1*file2\n",
    .args = kTwoFiles,
    .band_line = BandLine::two_ranges,
    .range_rule = RangeRule::equal_lengths,
    .kernel = mult_values,
};

// As sum, but the band arguments from argc >= 9 and nanvalue (default 9999) from argc >= 10.
inline constexpr Tool kDiv = {
    .name = "div",
    .usage =
        "Use:\n%s ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
        "startband2(0) endband2(all) nanvalue(%d)]\nCalculates file1/file2\nreturns "
        "nanvalue if file2=0\na nanvalue of -1 means to take the value of file1\n",
    .usage_fill = UsageFill::nan_default,
    .args = {.ninputs = 2,
             .nbands = 4,
             .band_rule = ArgcRule::at_least,
             .band_argc = 9,
             .reals = {{9, &Params::nan}}},
    .band_line = BandLine::two_ranges_nan,
    .range_rule = RangeRule::equal_lengths,
    .kernel = div_values,
    .report = div_report_capped,
    .defaults = {.nan = 9999.0},
};

// ifile ofile constant npixel [startband1 endband1]: the constant is argv[3].
inline constexpr Tool kAdd = {
    .name = "add",
    .usage =
        "Use:\n%s ifile ofile add npixel [startband1(default:0) endband1(default:all)]\n"
        "Calculates ifile+add\n",
    .args = {.reals = {{3, &Params::constant}}},
    .kernel = add_values,
};

inline constexpr Tool kScale = {
    .name = "scale",
    .usage =
        "Use:\n%s ifile ofile factor npixel [startband1(default:0) endband1(default:all)]\n"
        "Calculates ifile*factor\n",
    .args = {.reals = {{3, &Params::constant}}},
    .kernel = scale_values,
};

// ifile1 ofile npixel lower upper [startband1 endband1]; the replaced values are counted and
// the bands finished before a short read are kept.
inline constexpr Tool kLimits = {
    .name = "limits",
    .usage =
        "Use:\n%s ifile1 ofile npixel lower upper [startband1(default:0) "
        "endband1(default:all)]\nsets values < lower to lower, > upper to upper\n",
    .usage_max_argc = 5,
    .args = {.npixel = 3,
             .bands = 6,
             .band_argc = 8,
             .reals = {{4, &Params::lower}, {5, &Params::upper}}},
    .range_rule = RangeRule::unchecked,
    .on_short_read = OnShortRead::keep_finished,
    .kernel = limit_values,
    .closing = "%lld values have been corrected\n",
};

// ifile ofile npixel [maxgrowth growthrate lower_asymptote upper_asymptote startband1
// endband1]: each parameter read when present, the bands only when both are.
inline constexpr Tool kLogistic = {
    .name = "logistic",
    .usage =
        "Use:\n%s ifile ofile npixel [maxgrowth growthrate lower_asymptote upper_asymptote "
        "startband1(default:0) endband1(default:all)]\nCalculates logistic function "
        "(ifile)\nDefault Values: growthrate: %.1lf maximum growth: %.1lf "
        "Asymtotes:%.1lf %.1lf\n",
    .usage_fill = UsageFill::logistic_defaults,
    .usage_max_argc = 3,
    .args = {.npixel = 3,
             .bands = 8,
             .band_rule = ArgcRule::at_least,
             .band_argc = 10,
             .reals = {{4, &Params::m}, {5, &Params::g}, {6, &Params::a1}, {7, &Params::a2}}},
    .band_line = BandLine::none,
    .kernel = logistic_values,
    .defaults = {.m = 3.0, .g = 2.0, .a1 = 0.0, .a2 = 1.0},
};

// Every argument a row reads lies within the argument count that makes it read them, after
// the paths.
constexpr bool consistent(const Tool& t) {
  const ArgLayout& a = t.args;
  const int output_pos = a.ninputs + 1;
  bool ok = a.npixel > output_pos && a.npixel < t.usage_max_argc + 1 &&
            (a.nbands == 2 || a.nbands == 4) && a.band_argc >= a.bands + a.nbands &&
            a.band_argc > t.usage_max_argc;
  for (const RealArg& r : a.reals) ok = ok && (r.position == 0 || r.position > output_pos);
  return ok;
}
static_assert(consistent(kSum) && consistent(kMult) && consistent(kDiv));
static_assert(consistent(kAdd) && consistent(kScale) && consistent(kLimits));
static_assert(consistent(kLogistic));

}  // namespace bandmath
