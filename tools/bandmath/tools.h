// The eight band arithmetic tools as rows of one table over the engine. Every difference
// between the tools is a field here; the engine never asks which tool it runs.
#pragma once

#include "engine.h"
#include "kernels.h"

namespace bandmath {

// Two files combined band by band: ifile1 ifile2 ofile npixel [startband1 endband1 startband2
// endband2]; band arguments after opening, only at exactly argc == 9.
inline constexpr Tool kSum = {
    .name = "sum",
    .usage =
        "Use:\n%s ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
        "startband2(0) endband2(all)]\nCalculates file1+file2\n",
    .usage_fill = UsageFill::name,
    .usage_max_argc = 4,
    .ninputs = 2,
    .npixel_pos = 4,
    .reals = {},
    .reals_read = Stage::before_open,
    .block_pos = 0,
    .band_pos = 5,
    .band_args = 4,
    .band_rule = ArgcRule::exactly,
    .band_argc = 9,
    .bands_read = Stage::after_open,
    .band_line = BandLine::two_ranges,
    .range_rule = RangeRule::equal_lengths,
    .positioning = Positioning::every_read,
    .on_short_read = OnShortRead::empty_output,
    .loop = Loop::range,
    .kernel = sum_values,
    .report = nullptr,
    .closing = nullptr,
    .defaults = {},
};

inline constexpr Tool kMult = {
    .name = "mult",
    .usage =
        "Use:\n%s ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
        "startband2(0) endband2(all)]\nCalculates file1*file2\n",
    .usage_fill = UsageFill::name,
    .usage_max_argc = 4,
    .ninputs = 2,
    .npixel_pos = 4,
    .reals = {},
    .reals_read = Stage::before_open,
    .block_pos = 0,
    .band_pos = 5,
    .band_args = 4,
    .band_rule = ArgcRule::exactly,
    .band_argc = 9,
    .bands_read = Stage::after_open,
    .band_line = BandLine::two_ranges,
    .range_rule = RangeRule::equal_lengths,
    .positioning = Positioning::once,
    .on_short_read = OnShortRead::empty_output,
    .loop = Loop::range,
    .kernel = mult_values,
    .report = nullptr,
    .closing = nullptr,
    .defaults = {},
};

// As sum, but band arguments from argc >= 9 and nanvalue (default 9999) from argc >= 10.
inline constexpr Tool kDiv = {
    .name = "div",
    .usage =
        "Use:\n%s ifile1 ifile2 ofile npixel [startband1(default:0) endband1(default:all) "
        "startband2(0) endband2(all) nanvalue(%d)]\nCalculates file1/file2\nreturns "
        "nanvalue if file2=0\na nanvalue of -1 means to take the value of file1\n",
    .usage_fill = UsageFill::nan_default,
    .usage_max_argc = 4,
    .ninputs = 2,
    .npixel_pos = 4,
    .reals = {{9, &Params::nan}},
    .reals_read = Stage::after_open,
    .block_pos = 0,
    .band_pos = 5,
    .band_args = 4,
    .band_rule = ArgcRule::at_least,
    .band_argc = 9,
    .bands_read = Stage::after_open,
    .band_line = BandLine::two_ranges_nan,
    .range_rule = RangeRule::equal_lengths,
    .positioning = Positioning::once,
    .on_short_read = OnShortRead::empty_output,
    .loop = Loop::range,
    .kernel = div_values,
    .report = div_report_capped,
    .closing = nullptr,
    .defaults = {.nan = 9999.0},
};

// One file, value by value: ifile ofile constant npixel [startband1 endband1]; the constant
// before opening, band arguments only at exactly argc == 7.
inline constexpr Tool kAdd = {
    .name = "add",
    .usage =
        "Use:\n%s ifile ofile add npixel [startband1(default:0) endband1(default:all)]\n"
        "Calculates ifile+add\n",
    .usage_fill = UsageFill::name,
    .usage_max_argc = 4,
    .ninputs = 1,
    .npixel_pos = 4,
    .reals = {{3, &Params::constant}},
    .reals_read = Stage::before_open,
    .block_pos = 0,
    .band_pos = 5,
    .band_args = 2,
    .band_rule = ArgcRule::exactly,
    .band_argc = 7,
    .bands_read = Stage::after_open,
    .band_line = BandLine::one_range,
    .range_rule = RangeRule::whole_output,
    .positioning = Positioning::once,
    .on_short_read = OnShortRead::empty_output,
    .loop = Loop::range,
    .kernel = add_values,
    .report = nullptr,
    .closing = nullptr,
    .defaults = {},
};

inline constexpr Tool kScale = {
    .name = "scale",
    .usage =
        "Use:\n%s ifile ofile factor npixel [startband1(default:0) endband1(default:all)]\n"
        "Calculates ifile*factor\n",
    .usage_fill = UsageFill::name,
    .usage_max_argc = 4,
    .ninputs = 1,
    .npixel_pos = 4,
    .reals = {{3, &Params::constant}},
    .reals_read = Stage::before_open,
    .block_pos = 0,
    .band_pos = 5,
    .band_args = 2,
    .band_rule = ArgcRule::exactly,
    .band_argc = 7,
    .bands_read = Stage::after_open,
    .band_line = BandLine::one_range,
    .range_rule = RangeRule::whole_output,
    .positioning = Positioning::once,
    .on_short_read = OnShortRead::empty_output,
    .loop = Loop::range,
    .kernel = scale_values,
    .report = nullptr,
    .closing = nullptr,
    .defaults = {},
};

// ifile1 ofile npixel lower upper [startband1 endband1]; band arguments only at exactly
// argc == 8; each finished band is written at once and the replaced values are counted.
inline constexpr Tool kLimits = {
    .name = "limits",
    .usage =
        "Use:\n%s ifile1 ofile npixel lower upper [startband1(default:0) "
        "endband1(default:all)]\nsets values < lower to lower, > upper to upper\n",
    .usage_fill = UsageFill::name,
    .usage_max_argc = 5,
    .ninputs = 1,
    .npixel_pos = 3,
    .reals = {{4, &Params::lower}, {5, &Params::upper}},
    .reals_read = Stage::before_open,
    .block_pos = 0,
    .band_pos = 6,
    .band_args = 2,
    .band_rule = ArgcRule::exactly,
    .band_argc = 8,
    .bands_read = Stage::after_open,
    .band_line = BandLine::one_range,
    .range_rule = RangeRule::unchecked,
    .positioning = Positioning::every_read,
    .on_short_read = OnShortRead::keep_finished,
    .loop = Loop::range,
    .kernel = limit_values,
    .report = nullptr,
    .closing = "%lld values have been corrected\n",
    .defaults = {},
};

// ifile ofile npixel [maxgrowth growthrate lower_asymptote upper_asymptote startband1
// endband1]: each parameter read after opening when present, the bands only when both are.
inline constexpr Tool kLogistic = {
    .name = "logistic",
    .usage =
        "Use:\n%s ifile ofile npixel [maxgrowth growthrate lower_asymptote upper_asymptote "
        "startband1(default:0) endband1(default:all)]\nCalculates logistic function "
        "(ifile)\nDefault Values: growthrate: %.1lf maximum growth: %.1lf "
        "Asymtotes:%.1lf %.1lf\n",
    .usage_fill = UsageFill::logistic_defaults,
    .usage_max_argc = 3,
    .ninputs = 1,
    .npixel_pos = 3,
    .reals = {{4, &Params::m}, {5, &Params::g}, {6, &Params::a1}, {7, &Params::a2}},
    .reals_read = Stage::after_open,
    .block_pos = 0,
    .band_pos = 8,
    .band_args = 2,
    .band_rule = ArgcRule::at_least,
    .band_argc = 10,
    .bands_read = Stage::after_open,
    .band_line = BandLine::none,
    .range_rule = RangeRule::whole_output,
    .positioning = Positioning::once,
    .on_short_read = OnShortRead::empty_output,
    .loop = Loop::range,
    .kernel = logistic_values,
    .report = nullptr,
    .closing = nullptr,
    .defaults = {.m = 3.0, .g = 2.0, .a1 = 0.0, .a2 = 1.0},
};

// ifile ofile npixel nbands startband endband, all read and the range checked before any file
// is opened; the kept bands of every block are copied bit for bit.
inline constexpr Tool kSlivet = {
    .name = "slivet",
    .usage =
        "Use:\n%s ifile ofile npixel nbands startband(0...nbands-1) "
        "endband(0...nbands-1)\n",
    .usage_fill = UsageFill::name,
    .usage_max_argc = 6,
    .ninputs = 1,
    .npixel_pos = 3,
    .reals = {},
    .reals_read = Stage::before_open,
    .block_pos = 4,
    .band_pos = 5,
    .band_args = 2,
    .band_rule = ArgcRule::at_least,
    .band_argc = 7,
    .bands_read = Stage::before_open,
    .band_line = BandLine::none,
    .range_rule = RangeRule::within_block,
    .positioning = Positioning::none,
    .on_short_read = OnShortRead::keep_finished,
    .loop = Loop::blocks,
    .kernel = nullptr,
    .report = nullptr,
    .closing = nullptr,
    .defaults = {},
};

// Every argument a row reads lies within the argument count that makes it read them.
constexpr bool consistent(const Tool& t) {
  const int output_pos = t.ninputs + 1;
  bool ok = t.npixel_pos > output_pos && t.npixel_pos < t.usage_max_argc + 1 &&
            t.band_argc >= t.band_pos + t.band_args && t.band_argc > t.usage_max_argc &&
            (t.block_pos == 0 || t.block_pos < t.usage_max_argc + 1);
  for (const RealArg& r : t.reals) ok = ok && (r.position == 0 || r.position > output_pos);
  return ok;
}
static_assert(consistent(kSum) && consistent(kMult) && consistent(kDiv));
static_assert(consistent(kAdd) && consistent(kScale) && consistent(kLimits));
static_assert(consistent(kLogistic) && consistent(kSlivet));

}  // namespace bandmath
