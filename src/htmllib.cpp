// The pages of the board's web interface, fragment by fragment, as the
// board's browsers know them. Nearly all of a page is one long line; only
// debug lines and listed text break it.
#include "htmllib.hpp"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

#include "funlib.hpp"

namespace {

// The page names and labels go out as they stand, so escaping must leave
// them alone. By reference, as funlib.hpp's check reads them.
constexpr bool needs_escape(const std::string_view &s) {
  return s.find_first_of("&<>\"'") != std::string_view::npos;
}
constexpr bool pages_need_no_escape() {
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i) {
    if (needs_escape(index_link_value_str[i]) || needs_escape(index_link_print_str[i]))
      return false;
  }
  return true;
}
static_assert(pages_need_no_escape(),
              "index_link_value_str and index_link_print_str: no page may need escaping");
constexpr bool fields_need_no_escape() {
  for (const netconf_field &f : netconf_fields) {
    if (needs_escape(f.name) || needs_escape(f.label))
      return false;
  }
  return true;
}
static_assert(fields_need_no_escape(), "netconf_fields: no name or label may need escaping");

// The menu column up to its buttons; the wait page shows it empty.
void menu_column_open() {
  html_out("    <td width=\"160\" valign=\"top\">");
  html_out("      <table border=\"1\" width=\"100%\" cellpadding=\"0\" bordercolor=\"#008080\" "
           "cellspacing=\"0\">");
  html_out("        <tr>");
  html_out("          <td width=\"100%\" valign=\"top\" height=\"400\">");
  html_out("            <br>");
}

// The menu column after its buttons (its inner cell stays open).
void menu_column_close() {
  html_out("        </tr>");
  html_out("      </table>");
  html_out("    </td>");
}

// The opening of a framed page up to its menu column.
void frame_top() {
  html_out("<table border=\"0\" width=\"100%\">");
  html_bannar();
  html_redline();
  html_out("  <tr>");
}

// One row of the settings form: a text field's label, and the field
// showing its record.
void wanlan_field(const netconf_field &field, const _netconf &record) {
  html_out("<TD BGCOLOR=#008080><font color=#ffffff>");
  html_out(field.label);
  html_out("</font></TD>");
  html_out("<TD><INPUT TYPE=TEXT NAME=");
  html_out(field.name);
  html_out(" VALUE=\"");
  html_escape(record.value);
  std::printf("\" SIZE=%d MAXLENGTH=%d></TD>", field.size, field.size);
}

// The bytes html_escape replaces, and what it writes in their place.
constexpr char escaped_bytes[] = "&<>\"'";
constexpr const char *references[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};
static_assert(sizeof references / sizeof references[0] == sizeof escaped_bytes - 1);

// Each listed line, or piece of a long one, goes out behind this.
constexpr char indent[] = "        ";

// The command's side of the pipe: its output goes into the pipe, and it
// holds nothing else of the program's, with the signals of a fresh start.
[[noreturn]] void start_command(const char *command, int from, int to) {
  ::close(from);
  if (to != STDOUT_FILENO) {
    if (::dup2(to, STDOUT_FILENO) < 0)
      ::_exit(127);
    ::close(to);
  }
  std::signal(SIGPIPE, SIG_DFL);
  char *const argv[] = {const_cast<char *>(command), nullptr};
  ::execve(command, argv, environ);
  ::_exit(127);
}

// Runs a board command and lists what it prints, its exit status ignored.
// Its fixed path needs no shell, so it starts directly, with the server's
// environment; its output comes through a private pipe, so concurrent
// requests never see each other's and nothing is left in /tmp.
void list_command(const char *command) {
  int fds[2];
  if (::pipe(fds) != 0)
    return;
  pid_t pid = ::fork();
  if (pid == 0)
    start_command(command, fds[0], fds[1]);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return;
  }
  FILE *output = ::fdopen(fds[0], "r");
  if (output != nullptr) {
    html_table_list(output);
    std::fclose(output);
  } else {
    ::close(fds[0]);
  }
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
    html_out(references[std::strchr(escaped_bytes, s[n]) - escaped_bytes]);
    s += n + 1;
  }
}

void html_content_type() {
  // The board's web server adds no header of its own. Without these,
  // another site's page could show the settings form in an invisible frame
  // and have a click save it, and a page's address would go to other sites
  // as the Referer.
  html_out("Content-type: text/html\n"
           "X-Frame-Options: DENY\n"
           "Content-Security-Policy: frame-ancestors 'none'\n"
           "X-Content-Type-Options: nosniff\n"
           "Referrer-Policy: same-origin\n"
           "\n");
}

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

void html_table_header() {
  frame_top();
  html_left();
  html_right_header();
}

void html_table_footer() {
  html_right_footer();
  html_out("  </tr>");
  html_out("</table>");
}

// The banner: the Internet, the board and the local computer, joined by
// two rules.
void html_bannar() {
  html_out("  <tr>");
  html_out("    <td width=\"160\"><img border=\"0\" src=\"../images/header_logo.gif\" "
           "width=\"159\" height=\"32\"></td>");
  html_out("    <td width=\"100%\">");
  html_out("      <table border=\"0\" width=\"106%\" cellspacing=\"0\" cellpadding=\"0\">");
  html_out("        <tr>");
  html_out("          <td width=\"23%\"></td>");
  html_out("          <td width=\"8%\"><img border=\"0\" src=\"../images/internet_lan.jpg\" "
           "align=\"right\" width=\"48\" height=\"48\" alt=\"Internet\"></td>");
  html_out("          <td width=\"15%\"><hr noshade=\"\" ></td>");
  html_out("          <td width=\"8%\"><img border=\"0\" src=\"../images/northbeam_lan.jpg\" "
           "width=\"48\" height=\"48\" alt=\"Northbeam\"></td>");
  html_out("          <td width=\"15%\"><hr noshade=\"\" ></td>");
  html_out("          <td width=\"8%\"><img border=\"0\" src=\"../images/local_lan.jpg\" "
           "width=\"48\" height=\"48\" alt=\"Local Computer\"></td>");
  html_out("          <td width=\"23%\"></td>");
  html_out("        </tr>");
  html_out("      </table>");
  html_out("    </td>");
  html_out("  </tr>");
}

void html_redline() {
  html_out("  <tr>");
  html_out("    <td width=\"100%\" colspan=\"2\">");
  html_out("      <hr size=\"1\" color=\"#FF0000\">");
  html_out("    </td>");
  html_out("  </tr>");
}

void html_left() {
  menu_column_open();
  html_left_submit();
  menu_column_close();
  html_out("</FORM>");
}

// One small form for each page, asking for it by name.
void html_left_submit() {
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i) {
    html_out("<form action=\"" CGI_PATH "\" method=get>");
    html_out("<input type=\"hidden\" name=\"rc\" value=\"1\">");
    html_out("<input type=\"hidden\" name=\"index_link\" value=\"");
    html_out(index_link_value_str[i]);
    html_out("\">");
    html_out("<p align=\"center\" style=\"margin-top: 0; margin-bottom: 0\">"
             "<font face=\"Courier New\"><input type=submit VALUE=\" ");
    html_out(index_link_print_str[i]);
    html_out("\"></p>");
    html_out("</form>");
  }
}

void html_right_header() {
  html_out("    <td width=\"100%\" valign=\"top\">");
  html_out("      <table border=\"0\" width=\"100%\" cellpadding=\"2\" bordercolor=\"#FF0000\">");
  html_out("        <tr>");
  html_out("          <td width=\"100%\" valign=\"middle\" height=\"400\" "
           "background=\"../images/bg01.gif\">");
}

void html_right_footer() {
  html_out("        </tr>");
  html_out("      </table>");
  html_out("    </td>");
}

void html_table_hardware() {
  html_table_header();
  html_out("            <p align=\"center\"><img border=\"0\" src=\"../images/IntelIXP425.jpg\" "
           "width=\"300\" height=\"200\"></td>");
  html_table_footer();
}

void html_table_list(FILE *f) {
  html_table_header();
  html_out("<pre>");
  // The 80-byte line buffer cuts a longer line into pieces of 79 bytes,
  // each behind its own indent. A NUL ends the text of its piece. The
  // indent sits in front of the buffer, so a piece and its indent go out
  // together.
  char line[sizeof indent - 1 + 80];
  std::memcpy(line, indent, sizeof indent - 1);
  while (std::fgets(line + sizeof indent - 1, 80, f) != nullptr)
    html_escape(line);
  html_out("</pre>");
  html_table_footer();
}

void html_table_procinfo(const char *proc_name) {
  FILE *f = std::fopen(proc_name, "r");
  if (f == nullptr)
    return;
  html_table_list(f);
  std::fclose(f);
}

void html_table_netstat() { list_command(CMD_IFCONFIG); }

void html_table_routetable() { list_command(CMD_ROUTE); }

void html_table_wanlan() {
  read_netdata();
  html_table_header();
  html_out("<FORM ACTION=" CGI_PATH " METHOD=GET NAME=CGI>");
  html_out("<INPUT TYPE=HIDDEN VALUE=\"2\" NAME=rc>");
  html_out("<div align=\"center\">");
  html_out("              <center>");
  html_out("<TABLE BORDER=3 WIDTH=60%>");
  html_out("<TR>");
  html_out("<TD BGCOLOR=#008080><font color=#ffffff>");
  html_out(netconf_fields[E_WAN_STATICIP].label);
  html_out("</font></TD>");
  html_out("<TD>");
  html_out("<SELECT NAME=");
  html_out(netconf_fields[E_WAN_STATICIP].name);
  html_out(">");
  // A browser selects the first option, so the current type comes first.
  const char *option_static = "<OPTION> Static IP Address";
  const char *option_dynamic = "<OPTION> Dynamic IP Address";
  bool is_static = std::strcmp(netconf[E_WAN_STATICIP].value, "y") == 0;
  html_out(is_static ? option_static : option_dynamic);
  html_out(is_static ? option_dynamic : option_static);
  html_out("</SELECT></TD></TR>");
  // Every setting with a text field, in table order; the first field's
  // row has no "<TR>" of its own.
  bool first = true;
  for (std::size_t i = 0; i < NETCONF_COUNT; ++i) {
    if (netconf_fields[i].size == 0)
      continue;
    if (!first)
      html_out("</TR><TR>");
    first = false;
    wanlan_field(netconf_fields[i], netconf[i]);
  }
  html_out("</TR>");
  html_out("</TABLE><P>");
  html_out("<INPUT TYPE=SUBMIT VALUE=\"Save\">");
  html_out("<INPUT TYPE=RESET VALUE=\"Undo\">");
  html_out("<FONT COLOR=#FF0000>");
  html_out("              </center>");
  html_out("            </div>");
  html_table_footer();
}

void html_table_wait() {
  frame_top();
  // The menu column without its buttons.
  menu_column_open();
  menu_column_close();
  html_right_header();
  html_out("            <p align=\"center\"><img border=\"0\" src=\"../images/wait.gif\" "
           "width=\"60\" height=\"60\"></td>");
  html_table_footer();
}

// Written after the wait page's document: the browser returns home in 5 s.
void html_wait_refresh() {
  html_out("<meta http-equiv=\"refresh\" content=\"5; url=" CGI_PATH
           "?rc=1&index_link=Hardware\">");
  html_out("<html>");
  html_out("<head>");
  html_out("<title>");
  html_out(PAGE_TITLE);
  html_out("</title>");
  html_out("</head>");
  html_out("<body>");
  html_out("</body>");
  html_out("</html>");
}
