// Exercises the module's run-ending paths, through the one handler as every program does, so
// tests can check exact streams and status from outside the process.
//   probe failu MSG | usage NAME | error MSG | status N MSG | warn MSG | report MSG
//         | tool-error PROGRAM MSG | args TEXT | write PATH NBYTES | guard OUT IN... | alloc N M
//         | helper-fails MSG
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utilfunc.h"

namespace {

int probe(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "failu" && argc == 3) raster::failu(argv[2]);
  if (mode == "usage" && argc == 3) raster::fail_exact("Use:\n%s a b c\nDoes things\n", argv[2]);
  if (mode == "error" && argc == 3) raster::fail_error("%s", argv[2]);
  if (mode == "status" && argc == 4) raster::fail_status(std::atoi(argv[2]), "%s", argv[3]);
  if (mode == "report" && argc == 3) {
    std::printf("before\n");
    raster::report("%s", argv[2]);
    return 0;
  }
  if (mode == "helper-fails" && argc == 3) {
    // A helper thread's failure ends the run on the calling thread, after a line on stdout.
    std::printf("started\n");
    raster::ThreadTeam team(3);
    team.run([&](int k) {
      if (k == 2) raster::fail_error("%s", argv[2]);
    });
    return 0;
  }
  if (mode == "warn" && argc == 3) {
    raster::warn("%s", argv[2]);
    return 0;
  }
  if (mode == "tool-error" && argc == 4) {
    raster::print_tool_error(argv[2], "%s", argv[3]);
    return raster::status::tool_error;
  }
  if (mode == "args" && argc == 3) {
    std::printf("%d %.17g\n", raster::arg_int(argv[2]), raster::arg_real(argv[2]));
    return 0;
  }
  if (mode == "write" && argc == 4) {
    raster::OutFile out = raster::OutFile::open(argv[2]);
    const std::vector<char> bytes(static_cast<std::size_t>(std::atol(argv[3])), 'x');
    out.write(bytes.data(), static_cast<int64_t>(bytes.size()));
    out.close();
    return 0;
  }
  if (mode == "guard" && argc >= 4) {
    const char* outs[] = {argv[2]};
    raster::refuse_output_over_input(std::vector<const char*>(argv + 3, argv + argc), outs);
    raster::OutFile out = raster::OutFile::open(argv[2]);
    out.close();
    return 0;
  }
  if (mode == "alloc" && argc == 4) {
    raster::Buffer<double> b(raster::alloc_count({std::atoll(argv[2]), std::atoll(argv[3])}, 8));
    return b.size() == std::atoll(argv[2]) * std::atoll(argv[3]) ? 0 : 3;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  return raster::run_program([&] { return probe(argc, argv); });
}
