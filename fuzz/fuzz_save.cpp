// The save branch's settings text: a request's pairs in, the file's text
// out. A refused pair leaves the text as it was; an accepted one is a
// setting's and adds one whole line of its own; the text stays under 2048
// bytes. And a value that is taken comes back the same when its line is
// written to the settings file and read back, so no value can leave its
// quotes or its line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cgivars.hpp"
#include "funlib.hpp"

namespace {

// The names the settings file may hold: those of the settings table, the
// one list of them.
bool is_setting(const std::string &name) {
  for (const netconf_field &field : netconf_fields)
    if (name == field.name)
      return true;
  return false;
}

// The value a setting holds after a save of this value alone: the line is
// written as the settings file and read back into the table. (Written
// plainly, as a new file: the save's own writer, and a file cut short,
// wait for the disk, too slow to fuzz.)
std::string read_back(const char *value) {
  char one[NETDATA_SIZE] = "";
  if (!netdata_append(one, "DNS1", value))
    std::abort(); // accepted under one name, so under any other
  std::remove(PATH_SETTINGS);
  FILE *f = std::fopen(PATH_SETTINGS, "w");
  if (f == nullptr || std::fputs(one, f) < 0 || std::fclose(f) != 0)
    std::abort();
  std::strcpy(netconf[E_DNS1].value, "unread");
  read_netdata();
  return netconf[E_DNS1].value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text.resize(std::strlen(text.c_str()));
  varlist list = parse_vars(text.data());
  char netdata[NETDATA_SIZE] = "";
  for (char **p = list; p[0] != nullptr; p += 2) {
    std::string name = p[0];
    std::string value = p[1];
    std::string before = netdata;
    bool taken = netdata_append(netdata, p[0], p[1]);
    std::string after = netdata;
    if (after.compare(0, before.size(), before) != 0)
      std::abort(); // the text before was changed
    std::string added = after.substr(before.size());
    if (!taken) {
      if (!added.empty())
        std::abort();
      continue;
    }
    // Of a setting, and one whole line.
    if (!is_setting(name))
      std::abort();
    if (added.empty() || added.find('\n') != added.size() - 1)
      std::abort();
    if (name == "WAN_STATICIP") {
      if (added != (value == "Static IP Address" ? "WAN_STATICIP=y\n" : "WAN_STATICIP=n\n"))
        std::abort();
      continue;
    }
    if (added != name + "=\"" + value + "\"\n")
      std::abort();
    // The reader takes the name up to the first "=".
    if (added.substr(0, added.find('=')) != name)
      std::abort();
    // A value that fits a setting comes back as it went in.
    if (value.size() < sizeof(_netconf::value) && read_back(p[1]) != value)
      std::abort();
  }
  if (std::strlen(netdata) >= NETDATA_SIZE)
    std::abort();
  cleanUp(0, list, nullptr);
  return 0;
}
