// Request decoding for the board's web interface.
#include "cgivars.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <strings.h>
#include <sys/utsname.h>

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

// The hosts a save may be sent to: the board's addresses and names. Any
// other Host is a name that someone else's DNS points at the board.
bool is_board_host(std::string_view host, const char *nodename) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    return is_address(AF_INET6, head(tail(host, 1), host.size() - 2));
  if (is_address(AF_INET, host))
    return true;
  if (nodename != nullptr && equal_nocase(host, nodename))
    return true;
  for (std::string_view name : board_names)
    if (equal_nocase(host, name))
      return true;
  return false;
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
  return c;
}

bool save_is_proven(const save_context &c) {
  // The Host first: a browser led to the board by another site's DNS name
  // calls that site's pages same-origin and sends them as proof.
  std::string_view host;
  unsigned port = 0;
  if (c.host == nullptr || !split_authority(c.host, host, port) || !is_board_host(host, c.nodename))
    return false;
  // nginx passes Host without its port: the server's port is the one asked for.
  if (port == 0 && c.server_port != nullptr && !parse_port(c.server_port, port))
    return false;
  if (port == 0)
    port = c.https ? 443 : 80;
  // The first signal the browser sent decides. A GET navigation over plain
  // HTTP may carry none, and another site's page can turn the Referer off,
  // so no signal at all is no proof. "none" is a navigation the person
  // started, but a link from a mail or another site's redirect keeps it:
  // only the board's own page proves a save.
  if (c.sec_fetch_site != nullptr)
    return std::strcmp(c.sec_fetch_site, "same-origin") == 0;
  if (c.origin != nullptr)
    return names_board(c.origin, host, port);
  if (c.referer != nullptr)
    return names_board(c.referer, host, port);
  return false;
}
