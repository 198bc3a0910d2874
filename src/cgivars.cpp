// Request decoding for the board's web interface.
#include "cgivars.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <string_view>
#include <strings.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "funlib.hpp"

int getRequestMethod() {
  const char *m = std::getenv("REQUEST_METHOD");
  if (m == nullptr)
    return -1;
  if (std::strcmp(m, "GET") == 0 || std::strcmp(m, "HEAD") == 0)
    return 0;
  return std::strcmp(m, "POST") == 0 ? 1 : -1;
}

bool is_head_request() {
  const char *m = std::getenv("REQUEST_METHOD");
  return m != nullptr && std::strcmp(m, "HEAD") == 0;
}

namespace {

// The value of one hexadecimal digit. Letters past F, and other bytes,
// give what the arithmetic gives: the digits are not checked.
unsigned hex_digit(char ch) {
  auto c = static_cast<unsigned char>(ch);
  if (c > 0x40)
    return (c & 0xDFu) - 0x37u; // upper or lower case: A-F are 10-15
  return c - 0x30u;
}

} // namespace

char hex2char(const char *hex) {
  return static_cast<char>((hex_digit(hex[0]) * 16u + hex_digit(hex[1])) & 0xFFu);
}

void unescape_url(char *url) {
  std::size_t len = std::strlen(url);
  std::size_t w = 0;
  for (std::size_t r = 0; r < len; ++r, ++w) {
    url[w] = url[r];
    // An escape needs both its digits: a cut-off one stays as it stands.
    if (url[r] == '%' && len - r > 2) {
      url[w] = hex2char(url + r + 1);
      r += 2;
      if (url[w] == '\0')
        return; // a decoded NUL ends the text
    }
  }
  url[w] = '\0';
}

varlist parse_vars(char *text) {
  // "+" becomes a space before anything is split or decoded, so "%2B"
  // still gives a plus. The same pass counts the pairs exactly (empty
  // tokens make none), so a flood of "&" claims no memory.
  std::size_t n = 0;
  for (char *p = text; *p != '\0'; ++p) {
    if (*p == '+')
      *p = ' ';
    bool starts_pair = *p != '&' && (p == text || p[-1] == '&');
    if (starts_pair)
      ++n;
  }
  auto *list = static_cast<varlist>(std::malloc((2 * n + 1) * sizeof(char *)));
  if (list == nullptr)
    return nullptr;
  std::size_t k = 0;
  for (char *p = text; *p != '\0';) {
    if (*p == '&') {
      ++p;
      continue;
    }
    // The name runs to the first "=", the value from there to the "&".
    char *tok = p;
    p += std::strcspn(p, "&");
    if (*p != '\0')
      *p++ = '\0';
    char *eq = tok + std::strcspn(tok, "=");
    char *value = strdup(*eq != '\0' ? eq + 1 : "");
    *eq = '\0';
    char *name = strdup(tok);
    if (name == nullptr || value == nullptr) {
      // Out of memory: the list ends at the last whole pair.
      std::free(name);
      std::free(value);
      break;
    }
    unescape_url(name);
    unescape_url(value);
    list[2 * k] = name;
    list[2 * k + 1] = value;
    ++k;
  }
  list[2 * k] = nullptr;
  return list;
}

varlist getGETvars() {
  const char *qs = std::getenv("QUERY_STRING");
  char *copy = strdup(qs != nullptr ? qs : "");
  if (copy == nullptr)
    return nullptr;
  varlist list = parse_vars(copy);
  std::free(copy);
  return list;
}

long content_length(const char *s) {
  // Past the range strtoll saturates, and so stays out of 1..POST_MAX.
  char *end = nullptr;
  long long n = std::strtoll(s, &end, 10);
  return end != s && n > 0 && n <= POST_MAX ? static_cast<long>(n) : -1;
}

varlist getPOSTvars() {
  const char *cl = std::getenv("CONTENT_LENGTH");
  long n = cl != nullptr ? content_length(cl) : -1;
  if (n < 0)
    std::exit(1);
  auto len = static_cast<std::size_t>(n);
  auto *body = static_cast<char *>(std::malloc(len + 1));
  if (body == nullptr || std::fread(body, 1, len, stdin) != len)
    std::exit(1);
  body[len] = '\0';
  varlist list = parse_vars(body);
  std::free(body);
  return list;
}

int cleanUp(int /*form_method*/, varlist getvars, varlist postvars) {
  for (varlist list : {postvars, getvars}) {
    if (list == nullptr)
      continue;
    for (char **p = list; *p != nullptr; ++p)
      std::free(*p);
    std::free(list);
  }
  return 0;
}

namespace {

#ifndef NB_BOARD_HOSTS
#define NB_BOARD_HOSTS
#endif

// Names by which the board is reached, besides its addresses and its own
// name; NB_BOARD_HOSTS adds the local DNS names a build is given.
constexpr std::string_view board_names[] = {"localhost", NB_BOARD_HOSTS};

// The first n characters of s, and s after them. (string_view's substr
// may throw, which brings the C++ runtime's exception support into the
// program: 100 KiB, and the dynamic loader as a second library.)
std::string_view head(std::string_view s, std::size_t n) {
  return {s.data(), std::min(n, s.size())};
}
std::string_view tail(std::string_view s, std::size_t n) {
  s.remove_prefix(std::min(n, s.size()));
  return s;
}

bool equal_nocase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// A port: decimal digits only, 1 to 65535.
bool parse_port(std::string_view s, unsigned &port) {
  if (s.empty() || s.size() > 5)
    return false;
  unsigned n = 0;
  for (char c : s) {
    if (c < '0' || c > '9')
      return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n == 0 || n > 65535)
    return false;
  port = n;
  return true;
}

// A host as the check reads it: letters, digits, ".", "-" and "_" (some
// boards' names have one), or a bracketed IPv6 literal of hex digits, ":"
// and ".". Anything else (a "@", a "\\", a "%") is a host that a browser
// might read another way, so it names nothing.
bool is_plain_host(std::string_view host) {
  constexpr char name_chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-_";
  constexpr char literal_chars[] = "0123456789ABCDEFabcdef:.";
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    return head(tail(host, 1), host.size() - 2).find_first_not_of(literal_chars) ==
           std::string_view::npos;
  return !host.empty() && host.find_first_not_of(name_chars) == std::string_view::npos;
}

// Splits "host[:port]", the host a plain name, a dotted address or a
// bracketed IPv6 literal; port is 0 when none is given. False for a host
// that is not plain, or a port that is empty or no number.
bool split_authority(std::string_view s, std::string_view &host, unsigned &port) {
  std::size_t colon = 0;
  if (!s.empty() && s[0] == '[') {
    colon = s.find(']');
    if (colon == std::string_view::npos)
      return false;
    ++colon;
  } else {
    colon = std::min(s.find(':'), s.size());
  }
  host = head(s, colon);
  port = 0;
  if (!is_plain_host(host))
    return false;
  if (colon == s.size())
    return true;
  return s[colon] == ':' && parse_port(tail(s, colon + 1), port);
}

// True when text is an address inet_pton reads whole: a dotted IPv4
// address (four numbers, no leading zeros) or an IPv6 address.
bool is_address(int family, std::string_view text) {
  char copy[64];
  if (text.size() >= sizeof copy)
    return false;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  unsigned char addr[16];
  return ::inet_pton(family, copy, addr) == 1;
}

// Suffixes that only a local resolver answers (mDNS, a home router's
// DNS), never the public DNS: a rebinding page cannot point them at the
// board.
constexpr std::string_view local_suffixes[] = {".local", ".lan", ".home.arpa", ".internal"};

// True when host is the board's own name followed by one local suffix.
bool is_local_name(std::string_view host, std::string_view nodename) {
  if (nodename.empty() || host.size() <= nodename.size() ||
      !equal_nocase(head(host, nodename.size()), nodename))
    return false;
  std::string_view suffix = tail(host, nodename.size());
  for (std::string_view s : local_suffixes)
    if (equal_nocase(suffix, s))
      return true;
  return false;
}

// The text without the blanks at either end.
std::string_view trimmed(std::string_view s) {
  constexpr char blanks[] = " \t\r";
  std::size_t start = s.find_first_not_of(blanks);
  if (start == std::string_view::npos)
    return {};
  return head(tail(s, start), s.find_last_not_of(blanks) + 1 - start);
}

// The longest line of the board's names file: a DNS name has at most 253
// characters, and blanks may stand around it.
constexpr std::size_t NAMES_LINE_MAX = 255;

// True when a line of the board's names file is host, case aside. Blank
// lines and "#" comments name nothing, and so does a line longer than
// NAMES_LINE_MAX: its rest is skipped, never read as a name of its own. A
// missing file, or anything but a regular file (a FIFO would hang the
// save), lists nothing.
bool is_listed_name(std::string_view host) {
  int fd = ::open(PATH_BOARD_NAMES, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;
  struct stat st;
  FILE *f = nullptr;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    f = ::fdopen(fd, "r");
  if (f == nullptr) {
    ::close(fd);
    return false;
  }
  bool found = false;
  bool in_long_line = false;
  char line[NAMES_LINE_MAX + 2]; // the line, its line feed and the NUL
  while (!found) {
    // Cleared, so that a line feed found is one of this read.
    std::memset(line, 0, sizeof line);
    if (std::fgets(line, sizeof line, f) == nullptr)
      break;
    const char *feed = static_cast<const char *>(std::memchr(line, '\n', sizeof line));
    bool ends_line = feed != nullptr || std::feof(f) != 0;
    bool is_rest = in_long_line;
    in_long_line = !ends_line;
    if (is_rest || !ends_line)
      continue;
    // To its line feed: a NUL inside leaves a text that is no host.
    std::size_t len = feed != nullptr ? static_cast<std::size_t>(feed - line) : std::strlen(line);
    std::string_view name = trimmed({line, len});
    found = !name.empty() && name.front() != '#' && equal_nocase(name, host);
  }
  std::fclose(f);
  return found;
}

// The hosts a save may be sent to: the board's addresses and names. Any
// other Host is a name that someone else's DNS points at the board. The
// names file is read last, and only for a Host that is none of the rest.
bool is_board_host(std::string_view host, const char *nodename) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    return is_address(AF_INET6, head(tail(host, 1), host.size() - 2));
  if (is_address(AF_INET, host))
    return true;
  if (nodename != nullptr && (equal_nocase(host, nodename) || is_local_name(host, nodename)))
    return true;
  for (std::string_view name : board_names)
    if (equal_nocase(host, name))
      return true;
  return is_listed_name(host);
}

// True when url is http or https at exactly host and port: a URL without
// a port has its scheme's. Browsers never send credentials in an Origin
// or a Referer, so a URL with "@" in its authority names nothing.
bool names_board(std::string_view url, std::string_view host, unsigned port) {
  std::size_t sep = url.find("://");
  if (sep == std::string_view::npos)
    return false;
  std::string_view scheme = head(url, sep);
  unsigned url_port = 0;
  if (equal_nocase(scheme, "http"))
    url_port = 80;
  else if (equal_nocase(scheme, "https"))
    url_port = 443;
  else
    return false;
  std::string_view authority = tail(url, sep + 3);
  authority = head(authority, authority.find_first_of("/?#"));
  std::string_view url_host;
  unsigned given = 0;
  if (!split_authority(authority, url_host, given))
    return false;
  if (given != 0)
    url_port = given;
  return equal_nocase(url_host, host) && url_port == port;
}

// True when url is the program's own page on the board: it names the
// board, and its path is exactly script_name, then nothing, a query or a
// fragment. Any other page on the board's host (a server's default page, a
// help page with links out) is no proof: a site it links to can send the
// browser on to a save, and the Referer may be cut to the board's origin.
bool is_own_page(std::string_view url, std::string_view host, unsigned port,
                 const char *script_name) {
  if (script_name == nullptr || script_name[0] != '/' || !names_board(url, host, port))
    return false;
  std::string_view rest = tail(url, url.find("://") + 3);
  rest = tail(rest, rest.find_first_of("/?#"));
  std::string_view script = script_name;
  if (head(rest, script.size()) != script)
    return false;
  rest = tail(rest, script.size());
  return rest.empty() || rest.front() == '?' || rest.front() == '#';
}

// Appends s to out (NUL-terminated, REFUSAL_LINE_SIZE bytes) as far as it fits.
void append(char (&out)[REFUSAL_LINE_SIZE], std::string_view s) {
  std::size_t used = std::strlen(out);
  std::size_t n = std::min(s.size(), sizeof out - 1 - used);
  std::memcpy(out + used, s.data(), n);
  out[used + n] = '\0';
}

// The request's bytes a refusal line quotes at most.
constexpr std::size_t LOGGED_BYTES = 80;

// Appends text from the request, quoted, with every byte that could end,
// forge or garble the log's line as "\xNN"; cut after LOGGED_BYTES, "...".
void append_quoted(char (&out)[REFUSAL_LINE_SIZE], std::string_view text) {
  append(out, "\"");
  for (char ch : head(text, LOGGED_BYTES)) {
    auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte >= 0x7f || ch == '"' || ch == '\\') {
      char hex[12];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(byte));
      append(out, hex);
    } else {
      append(out, {&ch, 1});
    }
  }
  append(out, text.size() > LOGGED_BYTES ? "\"..." : "\"");
}

// An environment variable's value, case aside.
bool env_is(const char *name, const char *value) {
  const char *v = std::getenv(name);
  return v != nullptr && strcasecmp(v, value) == 0;
}

} // namespace

save_context request_save_context() {
  save_context c = {};
  c.host = std::getenv("HTTP_HOST");
  c.sec_fetch_site = std::getenv("HTTP_SEC_FETCH_SITE");
  c.origin = std::getenv("HTTP_ORIGIN");
  c.referer = std::getenv("HTTP_REFERER");
  c.server_port = std::getenv("SERVER_PORT");
  // The scheme matters only for the default port, when neither Host nor
  // SERVER_PORT gives one. Servers with TLS say so in HTTPS=on (Apache,
  // lighttpd, nginx's fastcgi_params) or REQUEST_SCHEME (Apache, nginx);
  // busybox httpd and mini_httpd have no TLS and set neither.
  c.https = env_is("HTTPS", "on") || env_is("REQUEST_SCHEME", "https");
  static utsname uts;
  if (::uname(&uts) == 0)
    c.nodename = uts.nodename;
  c.script_name = std::getenv("SCRIPT_NAME");
  return c;
}

save_verdict check_save(const save_context &c) {
  // The Host first: a browser led to the board by another site's DNS name
  // calls that site's pages same-origin and sends them as proof.
  if (c.host == nullptr)
    return save_verdict::no_host;
  std::string_view host;
  unsigned port = 0;
  if (!split_authority(c.host, host, port) || !is_board_host(host, c.nodename))
    return save_verdict::foreign_host;
  // nginx passes Host without its port: the server's port is the one asked for.
  if (port == 0 && c.server_port != nullptr && !parse_port(c.server_port, port))
    return save_verdict::bad_port;
  if (port == 0)
    port = c.https ? 443 : 80;
  // The first signal the browser sent decides. A GET navigation over plain
  // HTTP may carry none, and another site's page can turn the Referer off,
  // so no signal at all is no proof. "none" is a navigation the person
  // started, but a link from a mail or another site's redirect keeps it:
  // only the board's own page proves a save.
  bool proven = false;
  if (c.sec_fetch_site != nullptr)
    proven = std::strcmp(c.sec_fetch_site, "same-origin") == 0;
  else if (c.origin != nullptr)
    proven = names_board(c.origin, host, port);
  else if (c.referer != nullptr)
    proven = is_own_page(c.referer, host, port, c.script_name);
  return proven ? save_verdict::taken : save_verdict::no_proof;
}

bool save_is_proven(const save_context &c) { return check_save(c) == save_verdict::taken; }

void refusal_line(char (&out)[REFUSAL_LINE_SIZE], save_verdict v, const save_context &c) {
  out[0] = '\0';
  if (v == save_verdict::taken)
    return;
  append(out, "northbeam: save refused: ");
  switch (v) {
  case save_verdict::taken: break;
  case save_verdict::no_host: append(out, "no Host"); break;
  case save_verdict::foreign_host:
    append(out, "Host ");
    append_quoted(out, c.host);
    append(out, " is not one of the board's names");
    break;
  case save_verdict::bad_port:
    append(out, "SERVER_PORT ");
    append_quoted(out, c.server_port);
    append(out, " is no port");
    break;
  case save_verdict::no_proof:
    append(out, "no proof that it comes from the board's own page");
    break;
  }
  append(out, "\n");
}
