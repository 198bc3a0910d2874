// Request decoding: the CGI method, the query string and POST body as
// variable lists. Knows nothing of the program's pages or settings.
#ifndef NORTHBEAM_CGIVARS_HPP
#define NORTHBEAM_CGIVARS_HPP

// A variable list: one array name0, value0, name1, value1, ..., closed by
// a null pointer in a name slot, each string allocated on its own. Values
// are never null. Only cleanUp frees it.
using varlist = char **;

// The largest POST body accepted; the board's forms send a few hundred bytes.
inline constexpr long POST_MAX = 65536;

// Method code of REQUEST_METHOD: 0 for GET or HEAD, 1 for POST, -1 otherwise.
int getRequestMethod();
// True when REQUEST_METHOD is HEAD: the answer is its header alone.
bool is_head_request();
// Pairs of QUERY_STRING; an empty list (not null) when it is unset.
varlist getGETvars();
// Pairs of the POST body on standard input. Exits with status 1, writing
// nothing, when CONTENT_LENGTH is unset, not a number, not in 1..POST_MAX,
// or the body is shorter.
varlist getPOSTvars();

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

// What a save request tells about where it was sent from and to, as the
// web server passes it (null where a header is absent).
struct save_context {
  const char *host;           // HTTP_HOST: the name and port the browser asked for
  const char *sec_fetch_site; // HTTP_SEC_FETCH_SITE
  const char *origin;         // HTTP_ORIGIN
  const char *referer;        // HTTP_REFERER
  const char *server_port;    // SERVER_PORT: the port when Host has none
  bool https;                 // the request came over TLS
  const char *nodename;       // the board's own name (uname)
};

// The save context of this request, from the CGI environment.
save_context request_save_context();

// True when a save may change the board: its Host is one of the board's
// own, and Sec-Fetch-Site, else Origin, else Referer shows that it was
// sent from the board's own page. Anything unclear refuses.
bool save_is_proven(const save_context &c);

#endif
