// Request decoding for the board's web interface.
#include "cgivars.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <strings.h>
#include <unistd.h>

namespace {

// White space as the C locale's isspace sees it, whatever the locale.
bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// A request's variables come from this block while it has room, so the few
// pairs of a board form cost no heap set-up; larger input goes to the heap.
// Under AddressSanitizer everything goes to the heap, where it is checked.
#if defined(__SANITIZE_ADDRESS__)
#define NB_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NB_HEAP_ONLY 1
#endif
#endif
#ifdef NB_HEAP_ONLY
constexpr std::size_t arena_size = 0;
#else
constexpr std::size_t arena_size = 8192;
#endif
alignas(char *) char arena[arena_size + 1];
std::size_t arena_used = 0;
std::size_t arena_live = 0; // allocations not yet freed; at 0 it starts over

// Room for n bytes, aligned for pointers, or null when memory is exhausted.
void *var_alloc(std::size_t n) {
  constexpr std::size_t align = alignof(char *);
  std::size_t need = n <= arena_size ? (n + align - 1) / align * align : n;
  if (need <= arena_size - arena_used) {
    void *p = arena + arena_used;
    arena_used += need;
    ++arena_live;
    return p;
  }
  return std::malloc(n);
}

// Releases what var_alloc gave (null is ignored).
void var_free(void *p) {
  auto at = reinterpret_cast<std::uintptr_t>(p), start = reinterpret_cast<std::uintptr_t>(arena);
  if (at < start || at >= start + arena_size)
    std::free(p);
  else if (--arena_live == 0)
    arena_used = 0;
}

// Reads exactly len bytes of fd into buf; false when it ends sooner.
bool read_whole(int fd, char *buf, std::size_t len) {
  while (len > 0) {
    ssize_t got = ::read(fd, buf, len);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    buf += got;
    len -= static_cast<std::size_t>(got);
  }
  return true;
}

// A copy of the len bytes at s, or null when memory is exhausted.
char *copy_of(const char *s, std::size_t len) {
  auto *p = static_cast<char *>(var_alloc(len + 1));
  if (p != nullptr) {
    std::memcpy(p, s, len);
    p[len] = '\0';
  }
  return p;
}

// Percent-decodes the len bytes at src into dst (which may be src itself:
// it never writes ahead of what it has read) and returns the decoded
// length. A "%" needs two bytes after it; a decoded NUL ends the text.
std::size_t decode(char *dst, const char *src, std::size_t len) {
  std::size_t r = 0, w = 0;
  while (r < len) {
    char c = src[r];
    if (c == '%' && len - r > 2) {
      c = hex2char(src + r + 1);
      if (c == '\0')
        return w;
      r += 3;
    } else {
      ++r;
    }
    dst[w++] = c;
  }
  return w;
}

// A decoded copy of one name or value, or null when memory is exhausted.
char *decoded_copy(const char *s, std::size_t len) {
  auto *p = static_cast<char *>(var_alloc(len + 1));
  if (p != nullptr)
    p[decode(p, s, len)] = '\0';
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
  return url_authority(url, &a, &n) && text_length(host) == n &&
         strncasecmp(a, host, n) == 0;
}

} // namespace

char **cgi_environ = nullptr;

const char *cgi_getenv(const char *name) {
  if (cgi_environ == nullptr)
    return std::getenv(name);
  for (char **e = cgi_environ; *e != nullptr; ++e) {
    const char *s = *e, *n = name;
    while (*n != '\0' && *s == *n)
      ++s, ++n;
    if (*n == '\0' && *s == '=')
      return s + 1;
  }
  return nullptr;
}

int getRequestMethod() {
  const char *m = cgi_getenv("REQUEST_METHOD");
  if (m == nullptr)
    return -1;
  if (text_is(m, "GET") || text_is(m, "HEAD"))
    return 0;
  if (text_is(m, "POST"))
    return 1;
  return -1;
}

void unescape_url(char *url) { url[decode(url, url, text_length(url))] = '\0'; }

char hex2char(const char *hex) {
  auto digit = [](char ch) {
    auto c = static_cast<unsigned char>(ch);
    return c > 0x40 ? (c & 0xDFu) - 0x37u : c - 0x30u;
  };
  return static_cast<char>(static_cast<unsigned char>((digit(hex[0]) * 16u + digit(hex[1])) & 0xFFu));
}

varlist parse_vars(char *text) {
  // "+" becomes a space before anything is split or decoded, so "%2B"
  // still gives a plus. The same pass bounds the number of pairs by the
  // "&"s; past a few dozen they are counted exactly (empty tokens make no
  // pair), so that a flood of "&" cannot claim memory out of all proportion.
  std::size_t n = 1;
  for (char *p = text; *p != '\0'; ++p) {
    if (*p == '+')
      *p = ' ';
    n += *p == '&';
  }
  if (n > 64) {
    n = 0;
    for (const char *p = text; *p != '\0'; ++p)
      n += *p != '&' && (p == text || p[-1] == '&');
  }
  auto *list = static_cast<varlist>(var_alloc((2 * n + 1) * sizeof(char *)));
  if (list == nullptr)
    return nullptr;
  std::size_t k = 0;
  for (const char *p = text; *p != '\0';) {
    if (*p == '&') {
      ++p;
      continue;
    }
    // The name runs to the first "=", the value from there to the "&".
    const char *name = p;
    while (*p != '\0' && *p != '&' && *p != '=')
      ++p;
    const char *name_end = p, *value = p + (*p == '=');
    for (p = value; *p != '\0' && *p != '&';)
      ++p;
    list[2 * k] = decoded_copy(name, static_cast<std::size_t>(name_end - name));
    list[2 * k + 1] = decoded_copy(value, static_cast<std::size_t>(p - value));
    if (list[2 * k] == nullptr || list[2 * k + 1] == nullptr) {
      // Out of memory: end the list at the last whole pair.
      var_free(list[2 * k]);
      var_free(list[2 * k + 1]);
      list[2 * k + 1] = nullptr;
      list[2 * k] = nullptr;
      return list;
    }
    ++k;
  }
  list[2 * k] = nullptr;
  return list;
}

varlist getGETvars() {
  const char *qs = cgi_getenv("QUERY_STRING");
  char *copy = copy_of(qs != nullptr ? qs : "", qs != nullptr ? text_length(qs) : 0);
  if (copy == nullptr)
    return nullptr;
  varlist list = parse_vars(copy);
  var_free(copy);
  return list;
}

varlist getPOSTvars() {
  const char *cl = cgi_getenv("CONTENT_LENGTH");
  long n = cl != nullptr ? content_length(cl) : -1;
  if (n < 0)
    std::exit(1);
  auto len = static_cast<std::size_t>(n);
  auto *body = static_cast<char *>(var_alloc(len + 1));
  if (body == nullptr)
    std::exit(1);
  if (!read_whole(STDIN_FILENO, body, len)) {
    var_free(body);
    std::exit(1);
  }
  body[len] = '\0';
  varlist list = parse_vars(body);
  var_free(body);
  return list;
}

int cleanUp(int /*form_method*/, varlist getvars, varlist postvars) {
  for (varlist list : {postvars, getvars}) {
    if (list == nullptr)
      continue;
    for (char **p = list; *p != nullptr; ++p)
      var_free(*p);
    var_free(list);
  }
  return 0;
}

bool is_cross_site() {
  if (const char *site = cgi_getenv("HTTP_SEC_FETCH_SITE"))
    return !text_is(site, "same-origin") && !text_is(site, "none");
  const char *host = cgi_getenv("HTTP_HOST");
  if (const char *origin = cgi_getenv("HTTP_ORIGIN"))
    return text_is(origin, "null") || (host != nullptr && !same_host(origin, host));
  const char *referer = cgi_getenv("HTTP_REFERER");
  return referer != nullptr && host != nullptr && !same_host(referer, host);
}
