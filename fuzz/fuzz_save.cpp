// The save branch's settings text: a request's pairs in, the file's text
// out. Every accepted pair is one safe line, a safe pair is refused only
// when its line would not fit, and the text stays under 2048 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgivars.hpp"
#include "funlib.hpp"

namespace {

bool identifier(const std::string &s) {
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (s.empty() || !alpha(s[0]))
    return false;
  for (char c : s)
    if (!alpha(c) && !(c >= '0' && c <= '9'))
      return false;
  return true;
}

bool safe(const std::string &s) {
  for (char ch : s)
    if (auto c = static_cast<unsigned char>(ch); c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == '$' || c == '`')
      return false;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text.resize(std::strlen(text.c_str()));
  varlist list = parse_vars(text.data());
  char netdata[NETDATA_SIZE] = "";
  std::string expect;
  for (char **p = list; p[0] != nullptr; p += 2) {
    std::string name = p[0], value = p[1];
    std::string line = name == "WAN_STATICIP"
                           ? std::string("WAN_STATICIP=") + (value == "Static IP Address" ? "y" : "n") + "\n"
                           : name + "=\"" + value + "\"\n";
    bool ok = name == "WAN_STATICIP" || (identifier(name) && safe(value));
    bool fits = expect.size() + line.size() <= NETDATA_SIZE - 1;
    if (netdata_append(netdata, p[0], p[1]) != (ok && fits))
      std::abort();
    if (ok && fits)
      expect += line;
    if (expect != netdata)
      std::abort();
  }
  if (std::strlen(netdata) >= NETDATA_SIZE)
    std::abort();
  cleanUp(0, list, nullptr);
  return 0;
}
