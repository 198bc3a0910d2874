// Page selectors and the settings table and file.
#include "funlib.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The records of netconf_fields, holding their defaults.
constexpr std::array<_netconf, NETCONF_COUNT> default_netconf() {
  std::array<_netconf, NETCONF_COUNT> table{};
  for (std::size_t i = 0; i < NETCONF_COUNT; ++i) {
    const netconf_field &f = netconf_fields[i];
    for (std::size_t k = 0; k < f.name.size(); ++k)
      table[i].name[k] = f.name[k];
    for (std::size_t k = 0; k < f.value.size(); ++k)
      table[i].value[k] = f.value[k];
  }
  return table;
}

} // namespace

std::array<_netconf, NETCONF_COUNT> netconf = default_netconf();

namespace {

// The index of the entry of table that is exactly str, or -1.
template <std::size_t N>
int find_name(const std::array<std::string_view, N> &table, const char *str) {
  std::string_view s = str;
  for (std::size_t i = 0; i < N; ++i)
    if (table[i] == s)
      return static_cast<int>(i);
  return -1;
}

// A name of the settings table. Only these are stored: a Configure may
// source the file, or export it to every program it starts, and any other
// name could be one that a shell, the C library, a locale or a network
// client acts on.
bool is_setting_name(const char *name) {
  for (const _netconf &rec : netconf) {
    if (std::strcmp(rec.name, name) == 0)
      return true;
  }
  return false;
}

// A control character: below the space, or DEL.
bool is_control(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

// A value that stays inside its double quotes and its line when the file
// is read back or sourced by a shell: no control character, no quote,
// backslash, "$" or backquote.
bool is_safe_value(const char *s) {
  for (; *s != '\0'; ++s) {
    if (is_control(*s) || std::strchr("\"\\$`", *s) != nullptr)
      return false;
  }
  return true;
}

// Appends the parts of one line to netdata (NUL-terminated, NETDATA_SIZE
// bytes), or nothing when the line does not fit whole.
bool append_line(char *netdata, std::initializer_list<std::string_view> parts) {
  std::size_t used = std::strlen(netdata);
  std::size_t size = 0;
  for (std::string_view part : parts)
    size += part.size();
  if (size >= NETDATA_SIZE - used)
    return false;
  for (std::string_view part : parts) {
    std::memcpy(netdata + used, part.data(), part.size());
    used += part.size();
  }
  netdata[used] = '\0';
  return true;
}

// One line of the settings file as it is read, held within the record's
// sizes: the name runs to the first "=", the value from there to the line
// feed with its double quotes left out.
struct settings_line {
  char name[sizeof(_netconf::name)];
  char value[sizeof(_netconf::value)];
  std::size_t name_len;
  std::size_t value_len;
  bool seen_eq;
  // A NUL, or a part that outgrows its record: the line is no setting.
  bool spoiled;
};

// Adds c to the end of a part of the line, unless the part is full.
void add_to_part(char *part, std::size_t size, std::size_t &len, char c, bool &spoiled) {
  if (len + 1 >= size)
    spoiled = true;
  else
    part[len++] = c;
}

// Adds one byte (not the line feed) to the line being read.
void add_byte(settings_line &line, char c) {
  if (c == '\0')
    line.spoiled = true;
  else if (!line.seen_eq && c == '=')
    line.seen_eq = true;
  else if (!line.seen_eq)
    add_to_part(line.name, sizeof line.name, line.name_len, c, line.spoiled);
  else if (c != '"')
    add_to_part(line.value, sizeof line.value, line.value_len, c, line.spoiled);
}

// Stores the setting of a whole line, when it is one.
void store_line(settings_line &line) {
  if (!line.seen_eq || line.spoiled)
    return;
  line.name[line.name_len] = '\0';
  line.value[line.value_len] = '\0';
  insert_netdata(line.name, line.value);
}

} // namespace

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
  for (_netconf &rec : netconf) {
    if (std::strcmp(rec.name, str1) == 0) {
      std::memcpy(rec.value, str2, len + 1);
      return;
    }
  }
}

void read_netdata() {
  // No link is followed and nothing but a regular file is read, so a FIFO
  // or device planted in /tmp can neither hang the page nor be listed. A
  // file of another local user is one planted there too: only root and
  // the program's own user (the one that saves) write the settings.
  int fd = ::open(PATH_SETTINGS, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return;
  struct stat st;
  FILE *f = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_uid == 0 || st.st_uid == ::geteuid()))
    f = ::fdopen(fd, "r");
  if (f == nullptr) {
    ::close(fd);
    return;
  }
  settings_line line = {};
  for (int c; (c = std::getc(f)) != EOF;) {
    if (c == '\n') {
      store_line(line);
      line = {};
    } else {
      add_byte(line, static_cast<char>(c));
    }
  }
  store_line(line); // a last line without a line feed keeps its whole value
  std::fclose(f);
}

bool write_netdata(const char *str) {
  // A fresh file beside the old one, renamed over it: readers and
  // /etc/Configure see the old text or the new, and a link planted at the
  // settings path is replaced, never written through.
  char tmp[sizeof PATH_SETTINGS + 7]; // the settings path and ".XXXXXX"
  std::memcpy(tmp, PATH_SETTINGS, sizeof PATH_SETTINGS - 1);
  std::memcpy(tmp + sizeof PATH_SETTINGS - 1, ".XXXXXX", 8);
  int fd = ::mkostemp(tmp, O_CLOEXEC);
  if (fd < 0)
    return false;
  // A short write (a full disk) fails the save as an error does.
  std::size_t len = std::strlen(str);
  bool ok = ::write(fd, str, len) == static_cast<ssize_t>(len);
  ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(tmp, PATH_SETTINGS) == 0)
    return true;
  ::unlink(tmp);
  return false;
}

bool netdata_append(char *netdata, const char *name, const char *value) {
  if (std::strcmp(name, "WAN_STATICIP") == 0) {
    bool is_static = std::strcmp(value, "Static IP Address") == 0;
    return append_line(netdata, {is_static ? "WAN_STATICIP=y\n" : "WAN_STATICIP=n\n"});
  }
  if (!is_setting_name(name) || !is_safe_value(value))
    return false;
  return append_line(netdata, {name, "=\"", value, "\"\n"});
}
