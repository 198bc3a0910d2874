// Page selectors and the settings table and file.
#include "funlib.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <strings.h>
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

// A shell variable name: a letter or "_", then letters, digits or "_".
bool is_identifier(const char *s) {
  constexpr char word[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789";
  bool starts_with_digit = *s >= '0' && *s <= '9';
  return *s != '\0' && !starts_with_digit && s[std::strspn(s, word)] == '\0';
}

// A name that a program reading the settings file acts on. A Configure
// that sources the file would look up its commands, split its words, start
// up, time out or stop by them; one that exports it ("set -a") hands them
// to every program it starts. So they are left out like any unsafe pair.
// A name ending in "*" covers every name that begins with the rest.
struct left_out_name {
  std::string_view name;
  bool any_case; // matched whatever its letters' case
};

// Every name left out of the settings file, grouped by who reads it.
constexpr left_out_name left_out_names[] = {
    // POSIX sh and busybox sh: the command search, word splitting, the
    // start-up file, cd and ~, the prompts, getopts and the shell's own numbers.
    {"PATH", false},
    {"IFS", false},
    {"ENV", false},
    {"CDPATH", false},
    {"HOME", false},
    {"PS0", false},
    {"PS1", false},
    {"PS2", false},
    {"PS3", false},
    {"PS4", false},
    {"OPTIND", false},
    {"OPTARG", false},
    {"OPTERR", false},
    {"PPID", false},
    {"LINENO", false},
    {"PWD", false},
    {"OLDPWD", false},
    {"RANDOM", false},
    {"SECONDS", false},
    {"REPLY", false},
    {"FCEDIT", false},
    {"HISTFILE", false},
    // bash's own shell variables (bash(1), "Shell Variables").
    {"BASH*", false},
    {"SHELLOPTS", false},
    {"GLOBIGNORE", false},
    {"EXECIGNORE", false},
    {"FIGNORE", false},
    {"FUNCNEST", false},
    {"FUNCNAME", false},
    {"TMOUT", false},
    {"POSIXLY_CORRECT", false},
    {"PROMPT_COMMAND", false},
    {"PROMPT_DIRTRIM", false},
    {"HIST*", false},
    {"histchars", false},
    {"MAIL*", false},
    {"SHELL", false},
    {"SHLVL", false},
    {"UID", false},
    {"EUID", false},
    {"GROUPS", false},
    {"SRANDOM", false},
    {"EPOCH*", false},
    {"COMP_*", false},
    {"COMPREPLY", false},
    {"READLINE_*", false},
    {"INPUTRC", false},
    {"IGNOREEOF", false},
    {"TIMEFORMAT", false},
    {"CHILD_MAX", false},
    {"COLUMNS", false},
    {"LINES", false},
    {"COPROC", false},
    {"DIRSTACK", false},
    {"PIPESTATUS", false},
    {"MAPFILE", false},
    {"HOSTFILE", false},
    {"HOSTNAME", false},
    {"HOSTTYPE", false},
    {"MACHTYPE", false},
    {"OSTYPE", false},
    {"EMACS", false},
    {"INSIDE_EMACS", false},
    // The C library and the dynamic loader: what glibc strips from a setuid
    // program's environment, and the time zone.
    {"LD_*", false},
    {"GCONV_PATH", false},
    {"GETCONF_DIR", false},
    {"GLIBC_TUNABLES", false},
    {"HOSTALIASES", false},
    {"LOCALDOMAIN", false},
    {"LOCPATH", false},
    {"MALLOC_*", false},
    {"NIS_PATH", false},
    {"NLSPATH", false},
    {"RESOLV_HOST_CONF", false},
    {"RES_OPTIONS", false},
    {"TMPDIR", false},
    {"TZDIR", false},
    {"TZ", false},
    // The locale.
    {"LANG", false},
    {"LANGUAGE", false},
    {"LC_*", false},
    // Network clients' proxies (wget, curl, busybox), read in either case.
    {"http_proxy", true},
    {"https_proxy", true},
    {"ftp_proxy", true},
    {"all_proxy", true},
    {"no_proxy", true},
};

// True when name begins with stem (in any case, when any_case is set).
bool begins_with(std::string_view name, std::string_view stem, bool any_case) {
  if (name.size() < stem.size())
    return false;
  if (any_case)
    return strncasecmp(name.data(), stem.data(), stem.size()) == 0;
  return std::memcmp(name.data(), stem.data(), stem.size()) == 0;
}

// True when name is one of left_out_names, or begins as an entry ending in
// "*" does.
bool is_left_out(std::string_view name) {
  for (const left_out_name &entry : left_out_names) {
    bool is_stem = entry.name.back() == '*';
    std::string_view stem = entry.name;
    if (is_stem)
      stem.remove_suffix(1);
    else if (name.size() != stem.size())
      continue;
    if (begins_with(name, stem, entry.any_case))
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
  // or device planted in /tmp can neither hang the page nor be listed.
  int fd = ::open(PATH_SETTINGS, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return;
  struct stat st;
  FILE *f = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
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
  if (!is_identifier(name) || is_left_out(name) || !is_safe_value(value))
    return false;
  return append_line(netdata, {name, "=\"", value, "\"\n"});
}
