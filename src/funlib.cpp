// Page selectors and the settings table and file.
#include "funlib.hpp"

#include "cgivars.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::array<_netconf, NETCONF_COUNT> netconf = {{
    {"WAN_STATICIP", "y"},           // E_WAN_STATICIP: "y" static, "n" dynamic
    {"WAN_IPADDR", "10.1.10.227"},   // E_WAN_IPADDR
    {"WAN_NETMASK", "255.255.255.0"}, // E_WAN_NETMASK
    {"WAN_NETWORK", "10.1.0.0"},     // E_WAN_NETWORK: kept, never shown
    {"WAN_ROUTE", "10.1.0.1"},       // E_WAN_ROUTE: the gateway
    {"DNS1", "10.0.0.2"},            // E_DNS1
    {"DNS2", "10.0.0.5"},            // E_DNS2
}};

namespace {

// A shell variable name: a letter or "_", then letters, digits or "_".
bool is_identifier(const char *s) {
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(*s))
    return false;
  for (++s; *s != '\0'; ++s)
    if (!alpha(*s) && !(*s >= '0' && *s <= '9'))
      return false;
  return true;
}

// A value that stays inside its double quotes and its line when the file
// is read back or sourced by a shell.
bool is_safe_value(const char *s) {
  for (; *s != '\0'; ++s) {
    auto c = static_cast<unsigned char>(*s);
    if (c < 0x20 || c == 0x7F || c == '"' || c == '\\' || c == '$' || c == '`')
      return false;
  }
  return true;
}

// Appends len bytes of each part to netdata when they fit whole.
bool append_whole(char *netdata, std::initializer_list<std::string_view> parts) {
  std::size_t used = text_length(netdata), add = 0;
  for (auto p : parts)
    add += p.size();
  if (add > NETDATA_SIZE - 1 - used)
    return false;
  for (auto p : parts) {
    std::memcpy(netdata + used, p.data(), p.size());
    used += p.size();
  }
  netdata[used] = '\0';
  return true;
}

// One line of the settings file being read, held within the record sizes.
struct line_reader {
  char name[sizeof(_netconf::name)] = {};
  char value[sizeof(_netconf::value)] = {};
  std::size_t name_len = 0, value_len = 0;
  bool seen_eq = false, too_long = false;

  void feed(char c) {
    if (c == '\0') {
      too_long = true; // a NUL would cut the name short: no such setting
    } else if (!seen_eq) {
      if (c == '=')
        seen_eq = true;
      else if (name_len + 1 < sizeof name)
        name[name_len++] = c;
      else
        too_long = true;
    } else if (c != '"') {
      if (value_len + 1 < sizeof value)
        value[value_len++] = c;
      else
        too_long = true;
    }
  }

  // Ends the line: a line without "=" or with an oversized part is ignored.
  void finish() {
    if (seen_eq && !too_long) {
      name[name_len] = '\0';
      value[value_len] = '\0';
      insert_netdata(name, value);
    }
    *this = line_reader{};
  }
};

} // namespace

bool unique_fd::reset() {
  int fd = fd_;
  fd_ = -1;
  return fd < 0 || ::close(fd) == 0;
}

int cgi_name_parse(const char *str) {
  for (std::size_t i = 0; i < cgi_name_str.size(); ++i)
    if (text_is(str, cgi_name_str[i]))
      return static_cast<int>(i);
  return -1;
}

int index_link_parse(const char *str) {
  for (std::size_t i = 0; i < index_link_value_str.size(); ++i)
    if (text_is(str, index_link_value_str[i]))
      return static_cast<int>(i);
  return -1;
}

int get_rc(const char *name, const char *value) {
  if (!text_is(name, "rc"))
    return -1;
  long long n = 0;
  // Outside int it is neither a page nor a save request.
  if (!read_decimal(value, static_cast<long long>(INT_MAX) + 1, &n) || n > INT_MAX)
    return 0;
  return static_cast<int>(n);
}

void insert_netdata(const char *str1, const char *str2) {
  std::size_t len = text_length(str2);
  if (len > NETCONF_VALUE_MAX)
    return;
  for (auto &rec : netconf)
    if (same_text(rec.name, str1)) {
      std::memcpy(rec.value, str2, len + 1);
      return;
    }
}

void read_netdata() {
  // No link is followed and nothing but a regular file is read, so a FIFO
  // or device planted in /tmp can neither hang the page nor be listed.
  unique_fd fd(::open(PATH_SETTINGS, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
    return;
  line_reader line;
  char buf[512];
  bool pending = false;
  for (;;) {
    ssize_t got = ::read(fd.get(), buf, sizeof buf);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    for (ssize_t i = 0; i < got; ++i) {
      if (buf[i] == '\n') {
        line.finish();
        pending = false;
      } else {
        line.feed(buf[i]);
        pending = true;
      }
    }
  }
  if (pending)
    line.finish(); // a last line without a line feed keeps its whole value
}

void write_netdata(const char *str) {
  // A fresh file beside the old one, renamed over it: readers and
  // /etc/Configure see the old text or the new, and a link planted at the
  // settings path is replaced, never written through.
  char tmp[sizeof PATH_SETTINGS + 7];
  std::memcpy(tmp, PATH_SETTINGS, sizeof PATH_SETTINGS - 1);
  std::memcpy(tmp + sizeof PATH_SETTINGS - 1, ".XXXXXX", 8);
  unique_fd fd(::mkstemp(tmp));
  if (fd.get() < 0)
    return;
  std::size_t left = text_length(str);
  bool ok = true;
  while (ok && left > 0) {
    ssize_t n = ::write(fd.get(), str, left);
    if (n < 0 && errno == EINTR)
      continue;
    ok = n > 0;
    if (ok) {
      str += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  ok = ok && ::fchmod(fd.get(), 0644) == 0 && ::fsync(fd.get()) == 0;
  ok = fd.reset() && ok;
  if (!ok || ::rename(tmp, PATH_SETTINGS) != 0)
    ::unlink(tmp);
}

bool netdata_append(char *netdata, const char *name, const char *value) {
  if (text_is(name, "WAN_STATICIP"))
    return append_whole(netdata, {text_is(value, "Static IP Address") ? "WAN_STATICIP=y\n" : "WAN_STATICIP=n\n"});
  if (!is_identifier(name) || !is_safe_value(value))
    return false;
  return append_whole(netdata, {name, "=\"", value, "\"\n"});
}
