// The floor of slivet: moves exactly the bytes that slivet keeps, and nothing else.
//   keepcopy IN OUT NPIXEL NBANDS STARTBAND ENDBAND
// For every whole block of NBANDS bands of IN, reads bands STARTBAND..ENDBAND with one pread
// and appends them to OUT.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "report.h"

namespace {

[[noreturn]] void die(const char* msg) { raster::fail_status(1, "keepcopy: %s\n", msg); }

int keep_copy(int argc, char** argv) {
  if (argc != 7) die("use: keepcopy IN OUT NPIXEL NBANDS STARTBAND ENDBAND");
  const int64_t npixel = std::atoll(argv[3]);
  const int64_t nbands = std::atoll(argv[4]);
  const int64_t start = std::atoll(argv[5]);
  const int64_t end = std::atoll(argv[6]);
  if (npixel <= 0 || nbands <= 0 || start < 0 || end < start || end >= nbands) die("bad bands");
  const int in = open(argv[1], O_RDONLY);
  if (in < 0) die("cannot open the input");
  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) die("cannot create the output");
  struct stat st {};
  if (fstat(in, &st) != 0) die("cannot stat the input");
  const int64_t block_bytes = nbands * npixel * 4;
  const int64_t keep_bytes = (end - start + 1) * npixel * 4;
  std::vector<char> buf(static_cast<std::size_t>(keep_bytes));
  for (int64_t b = 0; (b + 1) * block_bytes <= st.st_size; ++b) {
    const int64_t at = b * block_bytes + start * npixel * 4;
    if (pread(in, buf.data(), buf.size(), at) != keep_bytes) die("short read");
    if (write(out, buf.data(), buf.size()) != keep_bytes) die("short write");
  }
  if (close(out) != 0) die("cannot close the output");
  close(in);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return raster::run_program([&] { return keep_copy(argc, argv); });
}
