// Page selectors and the settings table and file.
#include "funlib.hpp"

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

// Names that a shell or the dynamic loader gives a meaning to. A Configure
// that sources the settings file would look up its commands, split its
// words or start up by them, or stop at a read-only one, so they are left
// out like any unsafe pair. An entry ending in "*" covers every name that
// begins with the rest.
constexpr std::string_view shell_names[] = {
    // POSIX and busybox sh: the command search, word splitting, the start-up
    // file, cd and ~, the prompts, getopts and the shell's own numbers.
    "PATH", "IFS", "ENV", "CDPATH", "HOME", "PS1", "PS2", "PS3", "PS4", "OPTIND", "OPTARG", "PPID", "LINENO",
    // bash: its start-up file and options, globbing, the read-only user ids,
    // and every variable of its own.
    "BASH_ENV", "SHELLOPTS", "BASHOPTS", "GLOBIGNORE", "UID", "EUID", "BASH*",
    // The dynamic loader: libraries preloaded into, or searched for, every
    // command Configure runs.
    "LD_*",
};

// True when name is an entry of shell_names, or begins as an entry ending
// in "*" does.
bool is_shell_name(std::string_view name) {
  for (std::string_view entry : shell_names) {
    if (name == entry)
      return true;
    std::string_view stem(entry.data(), entry.size() - 1);
    bool begins_so = name.size() >= stem.size() && std::string_view(name.data(), stem.size()) == stem;
    if (entry.back() == '*' && begins_so)
      return true;
  }
  return false;
}

// A value that stays inside its double quotes and its line when the file
// is read back or sourced by a shell: no control character, no quote,
// backslash, "$" or backquote.
bool is_safe_value(const char *s) {
  constexpr char unsafe[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10"
                            "\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f\"\\$`";
  return s[std::strcspn(s, unsafe)] == '\0';
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
  // Outside int (where strtoll saturates too) it is no page or save request.
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
  // The line being read, held within the record sizes: the name runs to the
  // first "=", the value to the line feed with its double quotes left out.
  // A NUL, or a part that outgrows its record, makes the line no setting.
  char name[sizeof(_netconf::name)], value[sizeof(_netconf::value)];
  std::size_t name_len = 0, value_len = 0;
  bool seen_eq = false, too_long = false;
  auto finish = [&] {
    if (seen_eq && !too_long) {
      name[name_len] = value[value_len] = '\0';
      insert_netdata(name, value);
    }
    name_len = value_len = 0;
    seen_eq = too_long = false;
  };
  char buf[512];
  for (ssize_t got; (got = ::read(fd.get(), buf, sizeof buf)) > 0;)
    for (const char *c = buf; c != buf + got; ++c) {
      if (*c == '\n')
        finish();
      else if (!seen_eq && *c == '=')
        seen_eq = true;
      else if (seen_eq && *c == '"')
        continue;
      else if (*c == '\0' || (seen_eq ? value_len + 1 >= sizeof value : name_len + 1 >= sizeof name))
        too_long = true;
      else if (seen_eq)
        value[value_len++] = *c;
      else
        name[name_len++] = *c;
    }
  finish(); // a last line without a line feed keeps its whole value
}

bool write_netdata(const char *str) {
  // A fresh file beside the old one, renamed over it: readers and
  // /etc/Configure see the old text or the new, and a link planted at the
  // settings path is replaced, never written through.
  char tmp[sizeof PATH_SETTINGS + 7]; // the settings path and ".XXXXXX"
  std::memcpy(tmp, PATH_SETTINGS, sizeof PATH_SETTINGS - 1);
  std::memcpy(tmp + sizeof PATH_SETTINGS - 1, ".XXXXXX", 8);
  unique_fd fd(::mkostemp(tmp, O_CLOEXEC));
  if (fd.get() < 0)
    return false;
  // A short write (a full disk) fails the save as an error does.
  auto len = static_cast<ssize_t>(std::strlen(str));
  bool ok = ::write(fd.get(), str, static_cast<std::size_t>(len)) == len && ::fchmod(fd.get(), 0644) == 0 &&
            ::fsync(fd.get()) == 0;
  ok = fd.reset() && ok;
  if (ok && std::rename(tmp, PATH_SETTINGS) == 0)
    return true;
  ::unlink(tmp);
  return false;
}

bool netdata_append(char *netdata, const char *name, const char *value) {
  std::array<std::string_view, 4> line; // the parts of the line
  if (std::strcmp(name, "WAN_STATICIP") == 0)
    line = {std::strcmp(value, "Static IP Address") == 0 ? "WAN_STATICIP=y\n" : "WAN_STATICIP=n\n", "", "", ""};
  else if (is_identifier(name) && !is_shell_name(name) && is_safe_value(value))
    line = {name, "=\"", value, "\"\n"};
  else
    return false;
  std::size_t used = std::strlen(netdata), add = 0;
  for (std::string_view part : line)
    add += part.size();
  if (add >= NETDATA_SIZE - used)
    return false; // a line that does not fit whole is left out
  for (std::string_view part : line) {
    std::memcpy(netdata + used, part.data(), part.size());
    used += part.size();
  }
  netdata[used] = '\0';
  return true;
}
