// Exercises the module's process-ending paths so tests can check exact streams and status.
//   probe failu MSG | usage NAME | write PATH NBYTES | guard OUT IN... | alloc N M
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utilfunc.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "failu" && argc == 3) failu(argv[2]);
  if (mode == "usage" && argc == 3) usage_exit("Use:\n%s a b c\nDoes things\n", argv[2]);
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
