// The query-string parser: any bytes give a whole list, one pair per
// non-empty "&"-separated token, each string no longer than its token.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgivars.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text.resize(std::strlen(text.c_str())); // the environment holds no NUL
  std::string copy = text;
  varlist list = parse_vars(copy.data());
  if (list == nullptr)
    std::abort();
  std::size_t k = 0;
  for (std::size_t at = 0; at <= text.size();) {
    std::size_t end = text.find('&', at);
    if (end == std::string::npos)
      end = text.size();
    if (end > at) {
      if (list[2 * k] == nullptr || list[2 * k + 1] == nullptr ||
          std::strlen(list[2 * k]) + std::strlen(list[2 * k + 1]) > end - at)
        std::abort();
      ++k;
    }
    at = end + 1;
  }
  if (list[2 * k] != nullptr)
    std::abort(); // more pairs than tokens
  cleanUp(0, list, nullptr);
  return 0;
}
