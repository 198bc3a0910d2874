// The listing of a file: any bytes come out in the chunks an 80-byte line
// buffer would cut (up to and with a line feed, or 79 bytes), each
// indented and escaped, a NUL ending its chunk's text, inside the frame.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "htmllib.hpp"
#include "listing_model.hpp"

namespace {

// Writes text to a fresh in-memory file and returns it, read from the start.
int file_of(const std::string &text) {
  int fd = ::memfd_create("listed", 0);
  if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      ::lseek(fd, 0, SEEK_SET) != 0)
    std::abort();
  return fd;
}

// What the program writes for the listing of text.
std::string listed(const std::string &text) {
  FILE *in = ::fdopen(file_of(text), "r");
  if (in == nullptr)
    std::abort();
  html_table_list(in);
  std::fflush(stdout);
  std::fclose(in);
  std::string out(static_cast<std::size_t>(::lseek(STDOUT_FILENO, 0, SEEK_END)), '\0');
  if (::pread(STDOUT_FILENO, out.data(), out.size(), 0) != static_cast<ssize_t>(out.size()) ||
      ::ftruncate(STDOUT_FILENO, 0) != 0 || ::lseek(STDOUT_FILENO, 0, SEEK_SET) != 0)
    std::abort();
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const std::string frame = [] {
    // Standard output becomes an in-memory file, read back after each run.
    int out = ::memfd_create("page", 0);
    if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0)
      std::abort();
    ::close(out);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return listed("");
  }();
  static const std::size_t open_at = frame.find("<pre>") + 5;
  std::string file(reinterpret_cast<const char *>(data), size);
  std::string want = frame.substr(0, open_at) + chunked(file) + frame.substr(open_at);
  if (listed(file) != want)
    std::abort();
  return 0;
}
