// The settings file reader: any file leaves every record a terminated
// value of at most 31 characters, with no quote or line feed in it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "funlib.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const auto defaults = netconf;
  std::FILE *f = std::fopen(PATH_SETTINGS, "wb");
  if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
    std::abort();
  netconf = defaults;
  read_netdata();
  for (std::size_t i = 0; i < netconf.size(); ++i) {
    const _netconf &r = netconf[i];
    if (std::memcmp(r.name, defaults[i].name, sizeof r.name) != 0)
      std::abort();
    const char *end = static_cast<const char *>(std::memchr(r.value, '\0', sizeof r.value));
    if (end == nullptr || std::strpbrk(r.value, "\"\n") != nullptr)
      std::abort();
  }
  return 0;
}
