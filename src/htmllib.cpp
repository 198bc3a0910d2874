// The pages of the board's web interface, fragment by fragment. Nearly all
// of a page is one long line; only debug lines and listed text break it.
// Each constant below is one run of fragments, one fragment a source line.
#include "htmllib.hpp"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/wait.h>
#include <unistd.h>

#include "funlib.hpp"

namespace {

// Each framed page, and the wait page, opens its table and a row so.
constexpr std::string_view table_open = "<table border=\"0\" width=\"100%\">";
constexpr std::string_view row_open = "  <tr>";
// The banner: Internet, board and local computer, joined by two rules.
constexpr std::string_view bannar_str =
    "  <tr>"
    "    <td width=\"160\"><img border=\"0\" src=\"../images/header_logo.gif\" width=\"159\" height=\"32\"></td>"
    "    <td width=\"100%\">"
    "      <table border=\"0\" width=\"106%\" cellspacing=\"0\" cellpadding=\"0\">"
    "        <tr>"
    "          <td width=\"23%\"></td>"
    "          <td width=\"8%\"><img border=\"0\" src=\"../images/internet_lan.jpg\" align=\"right\" width=\"48\" height=\"48\" alt=\"Internet\"></td>"
    "          <td width=\"15%\"><hr noshade=\"\" ></td>"
    "          <td width=\"8%\"><img border=\"0\" src=\"../images/northbeam_lan.jpg\" width=\"48\" height=\"48\" alt=\"Northbeam\"></td>"
    "          <td width=\"15%\"><hr noshade=\"\" ></td>"
    "          <td width=\"8%\"><img border=\"0\" src=\"../images/local_lan.jpg\" width=\"48\" height=\"48\" alt=\"Local Computer\"></td>"
    "          <td width=\"23%\"></td>"
    "        </tr>"
    "      </table>"
    "    </td>"
    "  </tr>";

constexpr std::string_view redline_str =
    "  <tr>"
    "    <td width=\"100%\" colspan=\"2\">"
    "      <hr size=\"1\" color=\"#FF0000\">"
    "    </td>"
    "  </tr>";

// The menu column up to its buttons; the wait page shows it empty.
constexpr std::string_view left_open_str =
    "    <td width=\"160\" valign=\"top\">"
    "      <table border=\"1\" width=\"100%\" cellpadding=\"0\" bordercolor=\"#008080\" cellspacing=\"0\">"
    "        <tr>"
    "          <td width=\"100%\" valign=\"top\" height=\"400\">"
    "            <br>";

// The menu column after its buttons (the inner cell stays open).
constexpr std::string_view left_close_str =
    "        </tr>"
    "      </table>"
    "    </td>";

constexpr std::string_view right_header_str =
    "    <td width=\"100%\" valign=\"top\">"
    "      <table border=\"0\" width=\"100%\" cellpadding=\"2\" bordercolor=\"#FF0000\">"
    "        <tr>"
    "          <td width=\"100%\" valign=\"middle\" height=\"400\" background=\"../images/bg01.gif\">";

constexpr std::string_view right_footer_str =
    "        </tr>"
    "      </table>"
    "    </td>";

// One menu button: a small form asking for its page, around the page's
// name and label.
constexpr std::string_view button_open =
    "<form action=\"" CGI_PATH "\" method=get>"
    "<input type=\"hidden\" name=\"rc\" value=\"1\">"
    "<input type=\"hidden\" name=\"index_link\" value=\"";
constexpr std::string_view button_middle =
    "\">"
    "<p align=\"center\" style=\"margin-top: 0; margin-bottom: 0\"><font face=\"Courier New\"><input type=submit VALUE=\" ";
constexpr std::string_view button_close =
    "\"></p>"
    "</form>";

// The five parts of menu button i.
constexpr std::array<std::string_view, 5> button(std::size_t i) {
  return {button_open, index_link_value_str[i], button_middle, index_link_print_str[i], button_close};
}

// Text laid end to end by the compiler, so that a run of fragments costs
// one write when a page is written.
struct joined {
  std::array<char, 4096> text{};
  std::size_t size = 0;
  constexpr void add(std::string_view s) {
    for (char c : s)
      text[size++] = c;
  }
};

// Everything a framed page writes before its content, menu and all, as the
// functions below write it piece by piece: one write instead of fifty.
constexpr joined frame_open = [] {
  joined j;
  for (std::string_view s : {table_open, bannar_str, redline_str, row_open, left_open_str})
    j.add(s);
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i)
    for (std::string_view s : button(i))
      j.add(s);
  for (std::string_view s : {left_close_str, std::string_view("</FORM>"), right_header_str})
    j.add(s);
  return j;
}();

// The page names and labels go out as they stand, so escaping must leave
// them alone.
static_assert([] {
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i)
    for (std::string_view s : {index_link_value_str[i], index_link_print_str[i]})
      if (s.find_first_of("&<>\"'") != std::string_view::npos)
        return false;
  return true;
}());

// The settings form up to its WAN type options.
constexpr std::string_view wanlan_open =
    "<FORM ACTION=" CGI_PATH " METHOD=GET NAME=CGI>"
    "<INPUT TYPE=HIDDEN VALUE=\"2\" NAME=rc>"
    "<div align=\"center\">"
    "              <center>"
    "<TABLE BORDER=3 WIDTH=60%>"
    "<TR>"
    "<TD BGCOLOR=#008080><font color=#ffffff>WAN Type</font></TD>"
    "<TD>"
    "<SELECT NAME=WAN_STATICIP>";
constexpr std::string_view option_static = "<OPTION> Static IP Address";
constexpr std::string_view option_dynamic = "<OPTION> Dynamic IP Address";

// One text field of the form: what comes before its value, and its record.
// The first field's row has no "<TR>" of its own.
struct wanlan_field {
  std::string_view before;
  NETCONF_ENUM record;
};
constexpr std::array<wanlan_field, 5> wanlan_fields = {{
    {"</SELECT></TD></TR><TD BGCOLOR=#008080><font color=#ffffff>WAN IP Address</font></TD>"
     "<TD><INPUT TYPE=TEXT NAME=WAN_IPADDR VALUE=\"", E_WAN_IPADDR},
    {"</TR><TR><TD BGCOLOR=#008080><font color=#ffffff>WAN Subnet Mask</font></TD>"
     "<TD><INPUT TYPE=TEXT NAME=WAN_NETMASK VALUE=\"", E_WAN_NETMASK},
    {"</TR><TR><TD BGCOLOR=#008080><font color=#ffffff>WAN Gateway</font></TD>"
     "<TD><INPUT TYPE=TEXT NAME=WAN_ROUTE VALUE=\"", E_WAN_ROUTE},
    {"</TR><TR><TD BGCOLOR=#008080><font color=#ffffff>Primary DNS</font></TD>"
     "<TD><INPUT TYPE=TEXT NAME=DNS1 VALUE=\"", E_DNS1},
    {"</TR><TR><TD BGCOLOR=#008080><font color=#ffffff>Secondary DNS</font></TD>"
     "<TD><INPUT TYPE=TEXT NAME=DNS2 VALUE=\"", E_DNS2},
}};
constexpr std::string_view wanlan_input_end = "\" SIZE=15 MAXLENGTH=15></TD>";

constexpr std::string_view wanlan_close =
    "</TR>"
    "</TABLE><P>"
    "<INPUT TYPE=SUBMIT VALUE=\"Save\">"
    "<INPUT TYPE=RESET VALUE=\"Undo\">"
    "<FONT COLOR=#FF0000>"
    "              </center>"
    "            </div>";

// Written after the wait page's document: the browser returns home in 5 s.
constexpr std::string_view wait_refresh_str =
    "<meta http-equiv=\"refresh\" content=\"5; url=" CGI_PATH "?rc=1&index_link=Hardware\">"
    "<html>"
    "<head>"
    "<title>Tessaline - Your Northbeam Partner</title>"
    "</head>"
    "<body>"
    "</body>"
    "</html>";

// The bytes html_escape replaces, and what it writes in their place.
constexpr char escaped_bytes[] = "&<>\"'";
constexpr std::array<std::string_view, 5> references = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};
static_assert(references.size() == sizeof escaped_bytes - 1);

// A listed chunk is what an 80-byte line buffer holds: up to and with a
// line feed, or 79 bytes.
constexpr std::size_t chunk_max = 79;
constexpr std::string_view indent = "        ";

// Writes what fd holds, read in blocks, chunk by chunk: each is copied
// behind its indent into a line buffer once 79 bytes of it are in, or the
// text has ended. /proc text seldom needs escaping, so the line buffers of
// plain chunks lie end to end and go out in one write; a chunk with
// something to escape, or a NUL that ends it, goes through html_escape.
void list_chunks(int fd) {
  constexpr std::size_t block = 4096;
  char in[chunk_max + block + 1]; // and a NUL, where the escape test ends
  char out[block];
  std::size_t have = 0;
  for (bool eof = false; !eof || have > 0;) {
    if (!eof) {
      ssize_t got = ::read(fd, in + have, block);
      eof = got <= 0;
      have += eof ? 0 : static_cast<std::size_t>(got);
    }
    in[have] = '\0';
    const char *p = in, *end = in + have, *plain = in + std::strcspn(in, escaped_bytes);
    char *line = out;
    while (end - p >= static_cast<std::ptrdiff_t>(chunk_max) || (eof && p != end)) {
      auto n = std::min(chunk_max, static_cast<std::size_t>(end - p));
      if (const void *nl = std::memchr(p, '\n', n))
        n = static_cast<std::size_t>(static_cast<const char *>(nl) - p) + 1;
      if (p + n > plain || line + indent.size() + chunk_max >= out + sizeof out) {
        html_out({out, static_cast<std::size_t>(line - out)});
        line = out;
      }
      std::memcpy(line, indent.data(), indent.size());
      std::memcpy(line + indent.size(), p, n);
      if (p + n <= plain) {
        line += indent.size() + n;
      } else {
        line[indent.size() + n] = '\0';
        html_escape(line);
        plain = p + n + std::strcspn(p + n, escaped_bytes);
      }
      p += n;
    }
    html_out({out, static_cast<std::size_t>(line - out)});
    have = static_cast<std::size_t>(end - p);
    std::memmove(in, p, have);
  }
}

// Runs a board command and lists what it prints, its exit status ignored.
// Its fixed path needs no shell, so it starts directly, with the server's
// environment; its output comes through a private pipe, so concurrent
// requests never see each other's and nothing is left in /tmp.
void list_command(const char *command) {
  int fds[2];
  if (::pipe(fds) != 0)
    return;
  unique_fd from(fds[0]), to(fds[1]);
  pid_t pid = ::fork();
  if (pid == 0) {
    // The command writes into the pipe and holds nothing else of the
    // program's, with the signals of a fresh start.
    from.reset();
    if (to.get() != STDOUT_FILENO && (::dup2(to.get(), STDOUT_FILENO) < 0 || !to.reset()))
      ::_exit(127);
    std::signal(SIGPIPE, SIG_DFL);
    char *const argv[] = {const_cast<char *>(command), nullptr};
    ::execve(command, argv, environ);
    ::_exit(127);
  }
  to.reset();
  if (pid < 0)
    return;
  html_table_list(from.get());
  ::waitpid(pid, nullptr, 0);
}

} // namespace

void html_out(std::string_view s) { std::fwrite(s.data(), 1, s.size(), stdout); }

void html_escape(const char *s) {
  for (;;) {
    std::size_t n = std::strcspn(s, escaped_bytes);
    if (n > 0)
      html_out({s, n});
    if (s[n] == '\0')
      return;
    html_out(references[static_cast<std::size_t>(std::strchr(escaped_bytes, s[n]) - escaped_bytes)]);
    s += n + 1;
  }
}

void html_content_type() { html_out("Content-type: text/html\n\n"); }
void htmlHeader(const char *title) {
  html_content_type();
  html_out("<HTML><HEAD><TITLE>");
  html_escape(title);
  html_out("</TITLE></HEAD>");
}
void htmlBody() { html_out("<BODY>"); }
void htmlFooter() { html_out("</BODY></HTML>"); }
void html_debug(bool rc, const char *name, const char *value) {
  html_out(rc ? "<li>RC DEBUG: [" : "<li>DEBUG: [");
  html_escape(name);
  html_out("] = [");
  html_escape(value);
  html_out("]\n");
}

void html_table_header() { html_out({frame_open.text.data(), frame_open.size}); }
void html_table_footer() {
  html_right_footer();
  html_out("  </tr>" "</table>");
}

void html_bannar() { html_out(bannar_str); }
void html_redline() { html_out(redline_str); }
void html_left() {
  html_out(left_open_str);
  html_left_submit();
  html_out(left_close_str);
  html_out("</FORM>");
}
void html_left_submit() {
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i)
    for (std::string_view s : button(i))
      html_out(s);
}
void html_right_header() { html_out(right_header_str); }
void html_right_footer() { html_out(right_footer_str); }
void html_table_hardware() {
  html_table_header();
  html_out("            <p align=\"center\"><img border=\"0\" src=\"../images/IntelIXP425.jpg\" width=\"300\" height=\"200\"></td>");
  html_table_footer();
}

void html_table_list(int fd) {
  html_table_header();
  html_out("<pre>");
  list_chunks(fd);
  html_out("</pre>");
  html_table_footer();
}

void html_table_procinfo(const char *proc_name) {
  unique_fd fd(::open(proc_name, O_RDONLY | O_CLOEXEC));
  if (fd.get() >= 0)
    html_table_list(fd.get());
}

void html_table_netstat() { list_command(CMD_IFCONFIG); }
void html_table_routetable() { list_command(CMD_ROUTE); }
void html_table_wanlan() {
  read_netdata();
  html_table_header();
  html_out(wanlan_open);
  // A browser selects the first option, so the current type comes first.
  bool is_static = std::strcmp(netconf[E_WAN_STATICIP].value, "y") == 0;
  html_out(is_static ? option_static : option_dynamic);
  html_out(is_static ? option_dynamic : option_static);
  for (const auto &field : wanlan_fields) {
    html_out(field.before);
    html_escape(netconf[field.record].value);
    html_out(wanlan_input_end);
  }
  html_out(wanlan_close);
  html_table_footer();
}

void html_table_wait() {
  for (std::string_view s : {table_open, bannar_str, redline_str, row_open, left_open_str, left_close_str, right_header_str,
                             std::string_view("            <p align=\"center\"><img border=\"0\" src=\"../images/wait.gif\" "
                                              "width=\"60\" height=\"60\"></td>")})
    html_out(s);
  html_table_footer();
}

void html_wait_refresh() { html_out(wait_refresh_str); }
