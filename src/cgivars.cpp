// Request decoding for the board's web interface.
#include "cgivars.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <strings.h>

namespace {

// White space as the C locale's isspace sees it, whatever the locale.
bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The length of the token at p, up to its "&" or the end; a loop rather
// than strcspn, for the same reason as text_is.
std::size_t token_length(const char *p) {
  std::size_t n = 0;
  while (p[n] != '\0' && p[n] != '&')
    ++n;
  return n;
}

// A heap copy of the len bytes at s, or null when memory is exhausted.
char *copy_of(const char *s, std::size_t len) {
  auto *p = static_cast<char *>(std::malloc(len + 1));
  if (p != nullptr) {
    std::memcpy(p, s, len);
    p[len] = '\0';
  }
  return p;
}

// A decoded heap copy of one name or value.
char *decoded_copy(const char *s, std::size_t len) {
  char *p = copy_of(s, len);
  if (p != nullptr)
    unescape_url(p);
  return p;
}

} // namespace

bool read_decimal(const char *s, long long limit, long long *value) {
  while (is_space(*s))
    ++s;
  bool negative = false;
  if (*s == '+' || *s == '-')
    negative = *s++ == '-';
  long long n = 0;
  const char *digits = s;
  for (; *s >= '0' && *s <= '9'; ++s) {
    n = n * 10 + (*s - '0');
    if (n > limit)
      return false; // stop before it could wrap
  }
  *value = negative ? -n : n;
  return s != digits;
}

long content_length(const char *s) {
  long long n = 0;
  if (!read_decimal(s, POST_MAX, &n) || n <= 0)
    return -1;
  return static_cast<long>(n);
}

namespace {

// The host[:port] part of an absolute URL, as a pointer and length.
bool url_authority(const char *url, const char **start, std::size_t *len) {
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
  *start = p;
  *len = n;
  return true;
}

// True when url names exactly the host[:port] that the browser asked for.
bool same_host(const char *url, const char *host) {
  const char *a = nullptr;
  std::size_t n = 0;
  return url_authority(url, &a, &n) && std::strlen(host) == n &&
         strncasecmp(a, host, n) == 0;
}

} // namespace

int getRequestMethod() {
  const char *m = std::getenv("REQUEST_METHOD");
  if (m == nullptr)
    return -1;
  if (text_is(m, "GET") || text_is(m, "HEAD"))
    return 0;
  if (text_is(m, "POST"))
    return 1;
  return -1;
}

void unescape_url(char *url) {
  std::size_t r = 0, w = 0;
  while (url[r] != '\0') {
    // A "%" needs two characters after it; a cut-off escape stays as text.
    if (url[r] == '%' && url[r + 1] != '\0' && url[r + 2] != '\0') {
      url[w] = hex2char(url + r + 1);
      if (url[w] == '\0')
        return; // a decoded NUL ends the string
      r += 3;
    } else {
      url[w] = url[r++];
    }
    ++w;
  }
  url[w] = '\0';
}

char hex2char(const char *hex) {
  auto digit = [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c > 0x40 ? (c & 0xDFu) - 0x37u : c - 0x30u;
  };
  return static_cast<char>(static_cast<unsigned char>((digit(hex[0]) * 16u + digit(hex[1])) & 0xFFu));
}

varlist parse_vars(char *text) {
  for (char *p = text; *p != '\0'; ++p)
    if (*p == '+')
      *p = ' ';

  // Count the non-empty tokens first, so the list is sized once.
  std::size_t n = 0;
  for (const char *p = text; *p != '\0';) {
    std::size_t len = token_length(p);
    n += len != 0;
    p += len;
    p += *p == '&';
  }

  auto *list = static_cast<varlist>(std::calloc(2 * n + 1, sizeof(char *)));
  if (list == nullptr)
    return nullptr;
  std::size_t k = 0;
  for (const char *p = text; *p != '\0';) {
    std::size_t len = token_length(p);
    if (len != 0) {
      std::size_t name_len = 0;
      while (name_len < len && p[name_len] != '=')
        ++name_len;
      const char *value = name_len < len ? p + name_len + 1 : p + len;
      list[2 * k] = decoded_copy(p, name_len);
      list[2 * k + 1] = decoded_copy(value, static_cast<std::size_t>(p + len - value));
      if (list[2 * k] == nullptr || list[2 * k + 1] == nullptr) {
        // Out of memory: end the list at the last whole pair.
        std::free(list[2 * k]);
        std::free(list[2 * k + 1]);
        list[2 * k + 1] = nullptr;
        list[2 * k] = nullptr;
        return list;
      }
      ++k;
    }
    p += len;
    p += *p == '&';
  }
  return list;
}

varlist getGETvars() {
  const char *qs = std::getenv("QUERY_STRING");
  char *copy = copy_of(qs != nullptr ? qs : "", qs != nullptr ? std::strlen(qs) : 0);
  if (copy == nullptr)
    return nullptr;
  varlist list = parse_vars(copy);
  std::free(copy);
  return list;
}

varlist getPOSTvars() {
  const char *cl = std::getenv("CONTENT_LENGTH");
  long n = cl != nullptr ? content_length(cl) : -1;
  if (n < 0)
    std::exit(1);
  auto len = static_cast<std::size_t>(n);
  auto *body = static_cast<char *>(std::malloc(len + 1));
  if (body == nullptr)
    std::exit(1);
  if (std::fread(body, 1, len, stdin) != len) {
    std::free(body);
    std::exit(1);
  }
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

bool is_cross_site() {
  if (const char *site = std::getenv("HTTP_SEC_FETCH_SITE"))
    return std::strcmp(site, "same-origin") != 0 && std::strcmp(site, "none") != 0;
  const char *host = std::getenv("HTTP_HOST");
  if (const char *origin = std::getenv("HTTP_ORIGIN"))
    return std::strcmp(origin, "null") == 0 || (host != nullptr && !same_host(origin, host));
  const char *referer = std::getenv("HTTP_REFERER");
  return referer != nullptr && host != nullptr && !same_host(referer, host);
}
