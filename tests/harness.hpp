// Runs the built program as the web server does, and reads the expected
// pages from the golden fragment files.
#ifndef NORTHBEAM_TEST_HARNESS_HPP
#define NORTHBEAM_TEST_HARNESS_HPP

#include <map>
#include <string>
#include <vector>

#include "funlib.hpp"

// One request: method, query, extra CGI variables and the POST body.
struct request {
  const char *method = "GET";
  const char *query = nullptr;  // unset when null
  std::vector<std::string> env; // extra NAME=VALUE entries
  std::string body;
  std::vector<std::string> args; // command-line arguments
  // Without the power to pass over file permissions, as root is when it
  // runs the program (a test as another user has none to drop).
  bool obey_permissions = false;
  // Standard output as the web server leaves it: a pipe it reads, closed
  // before the program starts, or a pipe whose reader has gone.
  enum { piped, closed, reader_gone } output = piped;
};

// What a browser sends with a save from the board's own page, served at
// 127.0.0.1:8080: the Host it asked for and the page the form came from;
// and the program's path, as the web server passes it.
inline const std::vector<std::string> own_page = {
    "HTTP_HOST=127.0.0.1:8080",
    "HTTP_REFERER=http://127.0.0.1:8080/cgi-bin/northbeam?rc=1&index_link=Wan+Lan+Setting",
    "SCRIPT_NAME=/cgi-bin/northbeam"};

struct answer {
  std::string out;
  int status = -1; // exit status, or 128+signal
};

// A started request whose answer is still to be read.
struct running {
  int pid = -1;
  int fd = -1;
};

// The program under test: NB_TEST_PROGRAM when set (another build of it,
// for the same test board), else the one built beside the tests.
const char *program();
// Starts the program (through the emulator named by NB_TEST_EMULATOR, if
// any) with only the request's environment.
running start(const request &r);
// Reads the whole answer and waits for the program to end.
answer finish(running p);
inline answer run(const request &r) { return finish(start(r)); }

// The golden text of name: fragments one a line, "#" comments, "@file"
// includes, "\n" for a line feed, and {KEY} filled from vars.
std::string golden(const std::string &name, const std::map<std::string, std::string> &vars = {});

// The document shell around body, after the CGI header (golden "header").
std::string shell(const std::string &body);
// The answer to a save that was taken: the wait page in its document, and
// after the document's closing tags the refresh home.
std::string wait_answer();
// The settings form page (no document shell) with every text field showing
// its default from netconf_fields, the static option first; values named
// in vars (a field's name, or OPTIONS for the options) replace them.
std::string form_page(const std::map<std::string, std::string> &vars = {});
// A setting's default, as netconf_fields has it.
std::string default_of(NETCONF_ENUM setting);

// Path below the test board's root prefix.
std::string board(const std::string &path);
// Writes a board file (with mode, for stand-in commands).
void put(const std::string &path, const std::string &text, unsigned mode = 0644);
// The board file's text, or "<missing>".
std::string get(const std::string &path);
// Empties the test board and lays out its folders.
void reset_board();

// A row's description as a test name, which CTest can select with -R:
// letters and digits kept, a space as "_", other signs by name ("%" as
// "pct"), other bytes as "x" and two hex digits.
std::string row_name(const std::string &what);

#endif
