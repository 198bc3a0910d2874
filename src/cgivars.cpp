// Request decoding for the board's web interface.
#include "cgivars.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <strings.h>

int getRequestMethod() {
  const char *m = std::getenv("REQUEST_METHOD");
  if (m == nullptr)
    return -1;
  if (std::strcmp(m, "GET") == 0 || std::strcmp(m, "HEAD") == 0)
    return 0;
  return std::strcmp(m, "POST") == 0 ? 1 : -1;
}

char hex2char(const char *hex) {
  auto digit = [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c > 0x40 ? (c & 0xDFu) - 0x37u : c - 0x30u;
  };
  return static_cast<char>((digit(hex[0]) * 16u + digit(hex[1])) & 0xFFu);
}

void unescape_url(char *url) {
  std::size_t len = std::strlen(url), w = 0;
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
    n += *p != '&' && (p == text || p[-1] == '&');
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

// True when url names exactly the host[:port] that the browser asked for.
bool same_host(const char *url, const char *host) {
  const char *p = std::strstr(url, "://");
  if (p == nullptr)
    return false;
  p += 3;
  std::size_t n = std::strcspn(p, "/?#");
  // Credentials before "@" are not part of the host.
  for (std::size_t i = n; i > 0; --i)
    if (p[i - 1] == '@') {
      p += i;
      n -= i;
      break;
    }
  return std::strlen(host) == n && strncasecmp(p, host, n) == 0;
}

} // namespace

bool is_cross_site() {
  if (const char *site = std::getenv("HTTP_SEC_FETCH_SITE"))
    return std::strcmp(site, "same-origin") != 0 && std::strcmp(site, "none") != 0;
  const char *host = std::getenv("HTTP_HOST");
  if (const char *origin = std::getenv("HTTP_ORIGIN"))
    return std::strcmp(origin, "null") == 0 || (host != nullptr && !same_host(origin, host));
  const char *referer = std::getenv("HTTP_REFERER");
  return referer != nullptr && host != nullptr && !same_host(referer, host);
}
