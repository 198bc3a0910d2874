// The POST parser: the first line is CONTENT_LENGTH, the rest the body on
// standard input. A refused length is never read; an accepted one is
// exactly the leading number, and its body parses into a whole list.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "cgivars.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const int body_fd = ::memfd_create("body", 0);
  std::string in(reinterpret_cast<const char *>(data), size);
  std::size_t nl = in.find('\n');
  std::string cl = in.substr(0, nl);
  cl.resize(std::strlen(cl.c_str()));
  std::string body = nl == std::string::npos ? "" : in.substr(nl + 1);

  long n = content_length(cl.c_str());
  if (n == -1)
    return 0; // getPOSTvars would exit with status 1, reading nothing
  if (n < 1 || n > POST_MAX)
    std::abort();
  // The digits that give n follow only white space and a plus sign.
  std::size_t d = cl.find_first_not_of(" \t\n\v\f\r");
  d += cl[d] == '+';
  if (std::strtol(cl.c_str() + d, nullptr, 10) != n || cl[d] < '0' || cl[d] > '9')
    std::abort();
  if (body.size() < static_cast<std::size_t>(n))
    return 0; // a short body: exit with status 1

  if (::ftruncate(body_fd, 0) != 0 || ::pwrite(body_fd, body.data(), body.size(), 0) < 0 ||
      ::dup2(body_fd, 0) < 0 || std::fseek(stdin, 0, SEEK_SET) != 0)
    std::abort();
  ::setenv("CONTENT_LENGTH", cl.c_str(), 1);
  varlist list = getPOSTvars();
  if (list == nullptr)
    std::abort();
  std::size_t total = 0;
  for (char **p = list; *p != nullptr; p += 2) {
    if (p[1] == nullptr)
      std::abort();
    total += std::strlen(p[0]) + std::strlen(p[1]);
  }
  if (total > static_cast<std::size_t>(n))
    std::abort(); // text from beyond the declared length
  cleanUp(1, nullptr, list);
  return 0;
}
