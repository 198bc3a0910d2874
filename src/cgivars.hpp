// Request decoding: the CGI method, the query string and POST body as
// variable lists. Knows nothing of the program's pages or settings.
#ifndef NORTHBEAM_CGIVARS_HPP
#define NORTHBEAM_CGIVARS_HPP

#include <cstddef>
#include <string_view>

// A variable list: one array name0, value0, name1, value1, ..., closed by
// a null pointer in a name slot, each string allocated on its own. Values
// are never null. Only cleanUp frees it.
using varlist = char **;

// True when the NUL-terminated s is exactly t. Written out rather than
// strcmp: each C library function a request calls costs a symbol lookup on
// its first call, more than these short comparisons take.
constexpr bool text_is(const char *s, std::string_view t) {
  for (char c : t)
    if (*s++ != c)
      return false;
  return *s == '\0';
}

// The length of the NUL-terminated s; written out for the same reason.
constexpr std::size_t text_length(const char *s) {
  std::size_t n = 0;
  while (s[n] != '\0')
    ++n;
  return n;
}

// True when the NUL-terminated a and b are the same text.
constexpr bool same_text(const char *a, const char *b) {
  while (*a != '\0' && *a == *b)
    ++a, ++b;
  return *a == *b;
}

// The environment the web server gave the process, as main received it.
// Left null, the C library's getenv answers (tools and in-process tests).
extern char **cgi_environ;

// The value of the environment variable name, or null when it is unset.
const char *cgi_getenv(const char *name);

// The largest POST body accepted; the board's forms send a few hundred bytes.
inline constexpr long POST_MAX = 65536;

// Method code of REQUEST_METHOD: 0 for GET or HEAD, 1 for POST, -1 otherwise.
int getRequestMethod();

// Pairs of QUERY_STRING; an empty list (not null) when it is unset.
varlist getGETvars();

// Pairs of the POST body on standard input. Exits with status 1, writing
// nothing, when CONTENT_LENGTH is unset, not a number, not in 1..POST_MAX,
// or the body is shorter.
varlist getPOSTvars();

// Reads s as a decimal number: leading white space and a sign accepted,
// trailing text ignored. False for no digits, or a magnitude over limit
// (read no further, so it never wraps).
bool read_decimal(const char *s, long long limit, long long *value);

// CONTENT_LENGTH as 1..POST_MAX, or -1 for anything else: no digits, a
// sign that makes it negative, or a number too large (never wrapped).
long content_length(const char *s);

// Splits a writable "&"-separated text into a new variable list, turning
// "+" into space and percent-decoding names and values.
varlist parse_vars(char *text);

// Percent-decodes a NUL-terminated string in place. A "%" without two
// characters after it is kept as it stands.
void unescape_url(char *url);

// The byte encoded by the two characters at hex (digits are not checked).
char hex2char(const char *hex);

// Frees both lists (either may be null); always returns 0.
int cleanUp(int form_method, varlist getvars, varlist postvars);

// True when the browser says the request came from another site, through
// Sec-Fetch-Site, Origin or Referer against Host.
bool is_cross_site();

#endif
