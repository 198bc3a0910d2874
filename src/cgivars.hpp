// Request decoding: the CGI method, the query string and POST body as
// variable lists. Knows nothing of the program's pages or settings.
#ifndef NORTHBEAM_CGIVARS_HPP
#define NORTHBEAM_CGIVARS_HPP

#include <cstddef>

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
  const char *script_name;    // SCRIPT_NAME: the path at which the server runs the program
};

// The save context of this request, from the CGI environment.
save_context request_save_context();

// What the check of a save found: taken, or why it was refused.
enum class save_verdict {
  taken,
  no_host,      // the browser sent no Host
  foreign_host, // the Host is none of the board's names or addresses
  bad_port,     // the server's SERVER_PORT is no port
  no_proof,     // nothing shows that the board's own page sent it
};

// Whether a save may change the board: its Host is one of the board's own
// (its addresses, localhost, its name alone or with a local suffix, a
// build's names, or a line of PATH_BOARD_NAMES), and Sec-Fetch-Site, else
// Origin, else a Referer of the program's own page shows that it was sent
// from there. Anything unclear refuses.
save_verdict check_save(const save_context &c);
// True when check_save takes the save.
bool save_is_proven(const save_context &c);

// Room for a refusal line with its NUL: the longest is well below it.
inline constexpr std::size_t REFUSAL_LINE_SIZE = 512;
// The line, ending in a line feed, that tells the server's error log why a
// save was refused ("" for a save taken). What it quotes from the request
// is cut to 80 bytes, with any control, quote, backslash or non-ASCII byte
// as "\xNN", so no request can break or forge a line of the log.
void refusal_line(char (&out)[REFUSAL_LINE_SIZE], save_verdict v, const save_context &c);

#endif
