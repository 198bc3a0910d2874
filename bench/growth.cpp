// Drives the request parser and the debug lines of a page request over a
// query of N pairs held in memory: queries too long for a CGI environment.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cgivars.hpp"
#include "htmllib.hpp"

// growth N: parses "rc=1" and N-1 pairs "a=1", writes their debug lines.
int main(int argc, char **argv) {
  long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1;
  std::string query = "rc=1";
  for (long i = 1; i < n; ++i)
    query += "&a=1";
  varlist vars = parse_vars(query.data());
  if (vars == nullptr)
    return 1;
  for (char **p = vars + 2; *p != nullptr; p += 2)
    html_debug(false, p[0], p[1]);
  cleanUp(0, vars, nullptr);
  std::fflush(stdout);
  return 0;
}
