// Calling a positional tool's library entry from a named job: the argument vector built from
// values the job derived, numbers written so that the tool reads back exactly the same value,
// and the tool's standard output taken in (its band line counts positions in the in-memory
// images, which mean nothing to the user) so that the job can say the same in its own terms.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jobs {

/// A tool's library entry (run_fennick, run_sum, ...).
using Entry = int (*)(int argc, char** argv);

/// What a tool printed on standard output, one line per entry.
struct EntryOutput {
  std::vector<std::string> lines;
};

/// Runs `entry` with argv = {name, args...}; its standard output is captured, its standard
/// error passes through (its own messages). A status other than 0 becomes a ToolError naming
/// the tool and the status, after its own message.
EntryOutput call_entry(Entry entry, const char* name, const std::vector<std::string>& args);

/// `v` as the shortest decimal text that strtod reads back as exactly `v`.
std::string exact_text(double v);
/// `v` in decimal.
inline std::string int_text(int64_t v) { return std::to_string(v); }

}  // namespace jobs
