// Page selectors and the settings table and file.
#include "funlib.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::array<_netconf, NETCONF_COUNT> netconf = {{
    {"WAN_STATICIP", "y"},            // E_WAN_STATICIP: "y" static, "n" dynamic
    {"WAN_IPADDR", "10.1.10.227"},    // E_WAN_IPADDR
    {"WAN_NETMASK", "255.255.255.0"}, // E_WAN_NETMASK
    {"WAN_NETWORK", "10.1.0.0"},      // E_WAN_NETWORK: kept, never shown
    {"WAN_ROUTE", "10.1.0.1"},        // E_WAN_ROUTE: the gateway
    {"DNS1", "10.0.0.2"},             // E_DNS1
    {"DNS2", "10.0.0.5"},             // E_DNS2
}};

namespace {

// The index of the entry of table that is exactly str, or -1.
template <std::size_t N> int find_name(const std::array<std::string_view, N> &table, const char *str) {
  std::string_view s = str;
  for (std::size_t i = 0; i < N; ++i)
    if (table[i] == s)
      return static_cast<int>(i);
  return -1;
}

// A shell variable name: a letter or "_", then letters, digits or "_".
bool is_identifier(const char *s) {
  constexpr char word[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789";
  return *s != '\0' && !(*s >= '0' && *s <= '9') && s[std::strspn(s, word)] == '\0';
}

// A value that stays inside its double quotes and its line when the file
// is read back or sourced by a shell.
bool is_safe_value(const char *s) {
  for (; *s != '\0'; ++s) {
    auto c = static_cast<unsigned char>(*s);
    if (c < 0x20 || c == 0x7F || std::strchr("\"\\$`", c) != nullptr)
      return false;
  }
  return true;
}

// One line of the settings file being read, held within the record sizes.
struct line_reader {
  char name[sizeof(_netconf::name)] = {};
  char value[sizeof(_netconf::value)] = {};
  std::size_t name_len = 0, value_len = 0;
  bool seen_eq = false, too_long = false;

  // Takes the next byte of the file: the name runs to the first "=", the
  // value to the line feed, its double quotes left out wherever they stand.
  void take(char c) {
    if (c == '\n')
      finish();
    else if (!seen_eq && c == '=')
      seen_eq = true;
    else if (!seen_eq)
      keep(name, name_len, c);
    else if (c != '"')
      keep(value, value_len, c);
  }

  // Adds c to a part; a NUL (which would cut the text short) or a part
  // that outgrows its record marks the line as no setting.
  template <std::size_t N> void keep(char (&part)[N], std::size_t &len, char c) {
    if (c == '\0' || len + 1 >= N)
      too_long = true;
    else
      part[len++] = c;
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

// Writes all len bytes at s to fd.
bool write_all(int fd, const char *s, std::size_t len) {
  while (len > 0) {
    ssize_t n = ::write(fd, s, len);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    s += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

} // namespace

bool unique_fd::reset() {
  int fd = fd_;
  fd_ = -1;
  return fd < 0 || ::close(fd) == 0;
}

int cgi_name_parse(const char *str) { return find_name(cgi_name_str, str); }

int index_link_parse(const char *str) { return find_name(index_link_value_str, str); }

int get_rc(const char *name, const char *value) {
  if (std::strcmp(name, "rc") != 0)
    return -1;
  // Outside int (where strtoll saturates too) it is neither a page nor a
  // save request.
  char *end = nullptr;
  long long n = std::strtoll(value, &end, 10);
  if (end == value || n < INT_MIN || n > INT_MAX)
    return 0;
  return static_cast<int>(n);
}

void insert_netdata(const char *str1, const char *str2) {
  std::size_t len = std::strlen(str2);
  if (len >= sizeof(_netconf::value))
    return; // cut short, it would be another value
  for (auto &rec : netconf)
    if (std::strcmp(rec.name, str1) == 0) {
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
  for (ssize_t got; (got = ::read(fd.get(), buf, sizeof buf)) > 0;)
    for (ssize_t i = 0; i < got; ++i)
      line.take(buf[i]);
  line.finish(); // a last line without a line feed keeps its whole value
}

void write_netdata(const char *str) {
  // A fresh file beside the old one, renamed over it: readers and
  // /etc/Configure see the old text or the new, and a link planted at the
  // settings path is replaced, never written through.
  char tmp[] = NB_ROOT "/tmp/config.out.XXXXXX";
  static_assert(sizeof tmp == sizeof PATH_SETTINGS + 7, "the temporary sits beside the settings file");
  unique_fd fd(::mkostemp(tmp, O_CLOEXEC));
  if (fd.get() < 0)
    return;
  bool ok = write_all(fd.get(), str, std::strlen(str)) && ::fchmod(fd.get(), 0644) == 0 && ::fsync(fd.get()) == 0;
  ok = fd.reset() && ok;
  if (!ok || std::rename(tmp, PATH_SETTINGS) != 0)
    ::unlink(tmp);
}

bool netdata_append(char *netdata, const char *name, const char *value) {
  std::size_t used = std::strlen(netdata), room = NETDATA_SIZE - used;
  int n = 0;
  if (std::strcmp(name, "WAN_STATICIP") == 0)
    n = std::snprintf(netdata + used, room, "WAN_STATICIP=%s\n",
                      std::strcmp(value, "Static IP Address") == 0 ? "y" : "n");
  else if (is_identifier(name) && is_safe_value(value))
    n = std::snprintf(netdata + used, room, "%s=\"%s\"\n", name, value);
  else
    return false;
  if (n < 0 || static_cast<std::size_t>(n) >= room) {
    netdata[used] = '\0'; // a line that does not fit whole is left out
    return false;
  }
  return true;
}
