// The save branch's settings text: a request's pairs in, the file's text
// out. A refused pair leaves the text as it was; an accepted one adds
// exactly its own line, which a shell sourcing the file reads as one
// plain assignment; and the text stays under 2048 bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgivars.hpp"
#include "funlib.hpp"

namespace {

// Bytes that a shell acts on inside double quotes, or that end a line.
const std::string unquotable = [] {
  std::string s = "\"\\$`\x7f";
  for (char c = 1; c < 0x20; ++c)
    s += c;
  return s;
}();

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text.resize(std::strlen(text.c_str()));
  varlist list = parse_vars(text.data());
  char netdata[NETDATA_SIZE] = "";
  for (char **p = list; p[0] != nullptr; p += 2) {
    std::string name = p[0], value = p[1], before = netdata;
    bool taken = netdata_append(netdata, p[0], p[1]);
    std::string added = std::string(netdata).substr(std::min(before.size(), std::strlen(netdata)));
    if (std::string(netdata).compare(0, before.size(), before) != 0 || (!taken && !added.empty()))
      std::abort();
    if (!taken)
      continue;
    if (name == "WAN_STATICIP") {
      if (added != (value == "Static IP Address" ? "WAN_STATICIP=y\n" : "WAN_STATICIP=n\n"))
        std::abort();
      continue;
    }
    bool word = !name.empty() && !(name[0] >= '0' && name[0] <= '9') &&
                name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789") ==
                    std::string::npos;
    if (!word || value.find_first_of(unquotable) != std::string::npos || added != name + "=\"" + value + "\"\n")
      std::abort();
  }
  if (std::strlen(netdata) >= NETDATA_SIZE)
    std::abort();
  cleanUp(0, list, nullptr);
  return 0;
}
