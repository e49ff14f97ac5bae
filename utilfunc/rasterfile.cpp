#include "rasterfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "report.h"

namespace raster {

StreamFile::StreamFile(const char* path, const char* mode)
    : f_(std::fopen(path, mode)), path_(path) {}

StreamFile& StreamFile::operator=(StreamFile&& o) noexcept {
  if (this != &o) {
    if (f_ != nullptr) std::fclose(f_);
    f_ = o.f_;
    path_ = std::move(o.path_);
    o.f_ = nullptr;
  }
  return *this;
}

StreamFile::~StreamFile() {
  if (f_ != nullptr) std::fclose(f_);
}

bool StreamFile::is_regular() const {
  struct stat st {};
  return f_ != nullptr && fstat(fileno(f_), &st) == 0 && S_ISREG(st.st_mode);
}

InFile InFile::try_open(const char* path) { return InFile(path, "rb"); }

InFile InFile::open(const char* path) {
  InFile in = try_open(path);
  if (!in.is_open()) failu("Error opening file\n");
  return in;
}

int64_t InFile::size() const {
  struct stat st {};
  if (fstat(fileno(get()), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

bool InFile::seek(int64_t offset, int whence) {
  return fseeko(get(), static_cast<off_t>(offset), whence) == 0;
}

int64_t InFile::read_floats(float* dst, int64_t n) {
  if (n <= 0 || get() == nullptr) return 0;
  return static_cast<int64_t>(std::fread(dst, 4, static_cast<std::size_t>(n), get()));
}

PreadEnd pread_full(int fd, void* dst, int64_t bytes, int64_t offset, int64_t* got) {
  char* to = static_cast<char*>(dst);
  int64_t done = 0;
  PreadEnd end = PreadEnd::whole;
  while (done < bytes) {
    const ssize_t r = pread(fd, to + done, static_cast<std::size_t>(bytes - done),
                            static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      end = r < 0 ? PreadEnd::error : PreadEnd::at_end;
      break;
    }
    done += r;
  }
  *got = done;
  return end;
}

int InFile::error() const { return std::ferror(get()); }

OutFile OutFile::try_open(const char* path) { return OutFile(path, "wb"); }

OutFile OutFile::open(const char* path) {
  OutFile out = try_open(path);
  if (!out.is_open()) failu("Error opening file\n");
  return out;
}

void OutFile::fail_write(int err) const {
  fail_error("cannot write output file %s: %s", path().c_str(), std::strerror(err));
}

int OutFile::write_at(const void* data, int64_t bytes, int64_t offset) {
  const char* p = static_cast<const char*>(data);
  for (int64_t done = 0; done < bytes;) {
    const ssize_t n = pwrite(fileno(get()), p + done, static_cast<std::size_t>(bytes - done),
                             static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += n;
  }
  return 0;
}

void OutFile::write(const void* data, int64_t bytes) {
  if (bytes <= 0) return;
  const auto n = static_cast<std::size_t>(bytes);
  if (std::fwrite(data, 1, n, get()) != n) fail_write();
}

void OutFile::cut_to(int64_t bytes) {
  if (ftruncate(fileno(get()), static_cast<off_t>(bytes)) != 0) fail_write();
}

void OutFile::discard() {
  if (get() == nullptr) return;
  // Whatever sits in the stream buffer goes out first, then the file is cut back to nothing.
  if (std::fflush(get()) != 0 || ftruncate(fileno(get()), 0) != 0 ||
      fseeko(get(), 0, SEEK_SET) != 0) {
    fail_write();
  }
}

void OutFile::close() {
  if (!is_open()) return;
  FILE* f = release();
  const bool bad = std::ferror(f) != 0;
  if (std::fclose(f) != 0 || bad) fail_write();
}

void refuse_output_over_input(std::span<const char* const> inputs,
                              std::span<const char* const> outputs) {
  for (const char* out : outputs) {
    struct stat so {};
    if (out == nullptr || stat(out, &so) != 0) continue;  // does not exist yet: nothing to lose
    for (const char* in : inputs) {
      struct stat si {};
      if (in == nullptr || stat(in, &si) != 0 || !S_ISREG(si.st_mode)) continue;
      if (si.st_dev == so.st_dev && si.st_ino == so.st_ino) {
        fail_error("output file %s is the input file %s; refusing to overwrite it", out, in);
      }
    }
  }
}

uint64_t getfilesize(FILE* file) {
  const off_t pos = ftello(file);
  fseeko(file, 0, SEEK_END);
  const off_t size = ftello(file);
  fseeko(file, pos, SEEK_SET);
  return static_cast<uint64_t>(size);
}

}  // namespace raster
