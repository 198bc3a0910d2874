// Page selectors and the settings table and file.
#include "funlib.hpp"

#include "cgivars.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdint>
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

  // Takes the bytes [p, end) of the line, which hold no line feed.
  void feed(const char *p, const char *end) {
    if (!seen_eq) {
      const char *eq = std::find(p, end, '=');
      for (; p != eq; ++p)
        keep(name, name_len, *p);
      if (eq == end)
        return;
      seen_eq = true;
      ++p;
    }
    for (; p != end; ++p)
      if (*p != '"')
        keep(value, value_len, *p);
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

// The settings path, a "." and six letters: a new file beside the old one.
using fresh_name = char[sizeof PATH_SETTINGS + 7];

// Creates a file under a fresh name that did not exist; a name that anyone
// else holds, a link among them, is passed over for another. The letters
// mix the process id and the stack's randomised address, so concurrent
// saves and names planted in /tmp seldom meet. (The C library's mkstemp
// does the same, but brings a quarter megabyte more of the library into
// the process; the clock would bring an eighth.)
int create_fresh(fresh_name &name) {
  constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
  static_assert(sizeof letters - 1 == 64);
  std::uint64_t mix = (static_cast<std::uint64_t>(::getpid()) << 40) ^
                      static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&name));
  std::memcpy(name, PATH_SETTINGS, sizeof PATH_SETTINGS - 1);
  char *tail = name + sizeof PATH_SETTINGS - 1;
  tail[0] = '.';
  tail[7] = '\0';
  for (int attempt = 0; attempt < 64; ++attempt) {
    // One step of splitmix64: every bit of mix reaches every letter.
    mix += 0x9E3779B97F4A7C15u;
    std::uint64_t z = (mix ^ (mix >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    z ^= z >> 31;
    for (int i = 0; i < 6; ++i)
      tail[1 + i] = letters[(z >> (6 * i)) & 63];
    int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST)
      return fd;
  }
  return -1;
}

} // namespace

bool unique_fd::reset() {
  int fd = fd_;
  fd_ = -1;
  return fd < 0 || ::close(fd) == 0;
}

std::size_t read_some(int fd, char *buf, std::size_t room) {
  for (;;) {
    ssize_t got = ::read(fd, buf, room);
    if (got >= 0)
      return static_cast<std::size_t>(got);
    if (errno != EINTR)
      return 0;
  }
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
  for (std::size_t got; (got = read_some(fd.get(), buf, sizeof buf)) != 0;) {
    for (const char *p = buf, *end = buf + got; p != end;) {
      const char *nl = std::find(p, end, '\n');
      line.feed(p, nl);
      pending = nl == end;
      if (!pending) {
        line.finish();
        ++nl;
      }
      p = nl;
    }
  }
  if (pending)
    line.finish(); // a last line without a line feed keeps its whole value
}

void write_netdata(const char *str) {
  // A fresh file beside the old one, renamed over it: readers and
  // /etc/Configure see the old text or the new, and a link planted at the
  // settings path is replaced, never written through.
  fresh_name tmp;
  unique_fd fd(create_fresh(tmp));
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
