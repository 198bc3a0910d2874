// The pages of the board's web interface, fragment by fragment. Nearly all
// of a page is one long line; only debug lines and listed text break it.
#include "htmllib.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "funlib.hpp"

namespace {

template <std::size_t N> using rows = std::array<std::string_view, N>;

// The combined length of parts.
template <std::size_t N> constexpr std::size_t total_size(const rows<N> &parts) {
  std::size_t n = 0;
  for (auto p : parts)
    n += p.size();
  return n;
}

// The parts laid end to end, built by the compiler.
template <std::size_t Size, std::size_t N> constexpr std::array<char, Size> join(const rows<N> &parts) {
  std::array<char, Size> text{};
  std::size_t k = 0;
  for (auto p : parts)
    for (char c : p)
      text[k++] = c;
  return text;
}

// A constant table of fragments as one text, so a page leaves in a few
// writes instead of one per fragment: each costs the board a library call.
template <const auto &Parts> inline constexpr auto joined = join<total_size(Parts)>(Parts);

// The joined text of Parts, as a fragment of a larger constant.
template <const auto &Parts>
inline constexpr std::string_view joined_view{joined<Parts>.data(), joined<Parts>.size()};

template <const auto &Parts> void write_rows() { html_out(joined_view<Parts>); }

// True when html_escape would change s; constants written unescaped must not.
constexpr bool needs_escape(std::string_view s) {
  for (char c : s)
    if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'')
      return true;
  return false;
}

// Opens every framed page, and the wait page.
constexpr std::string_view table_open_str = "<table border=\"0\" width=\"100%\">";
constexpr std::string_view row_open_str = "  <tr>";

// The banner: Internet, board and local computer, joined by two rules.
constexpr rows<16> bannar_str = {
    "  <tr>",
    "    <td width=\"160\"><img border=\"0\" src=\"../images/header_logo.gif\" width=\"159\" height=\"32\"></td>",
    "    <td width=\"100%\">",
    "      <table border=\"0\" width=\"106%\" cellspacing=\"0\" cellpadding=\"0\">",
    "        <tr>",
    "          <td width=\"23%\"></td>",
    "          <td width=\"8%\"><img border=\"0\" src=\"../images/internet_lan.jpg\" align=\"right\" width=\"48\" height=\"48\" alt=\"Internet\"></td>",
    "          <td width=\"15%\"><hr noshade=\"\" ></td>",
    "          <td width=\"8%\"><img border=\"0\" src=\"../images/northbeam_lan.jpg\" width=\"48\" height=\"48\" alt=\"Northbeam\"></td>",
    "          <td width=\"15%\"><hr noshade=\"\" ></td>",
    "          <td width=\"8%\"><img border=\"0\" src=\"../images/local_lan.jpg\" width=\"48\" height=\"48\" alt=\"Local Computer\"></td>",
    "          <td width=\"23%\"></td>",
    "        </tr>",
    "      </table>",
    "    </td>",
    "  </tr>",
};

constexpr rows<5> redline_str = {
    "  <tr>",
    "    <td width=\"100%\" colspan=\"2\">",
    "      <hr size=\"1\" color=\"#FF0000\">",
    "    </td>",
    "  </tr>",
};

// The menu column up to its buttons; the wait page shows it empty.
constexpr rows<5> left_open_str = {
    "    <td width=\"160\" valign=\"top\">",
    "      <table border=\"1\" width=\"100%\" cellpadding=\"0\" bordercolor=\"#008080\" cellspacing=\"0\">",
    "        <tr>",
    "          <td width=\"100%\" valign=\"top\" height=\"400\">",
    "            <br>",
};

// The menu column after its buttons (the inner cell stays open).
constexpr rows<3> left_close_str = {
    "        </tr>",
    "      </table>",
    "    </td>",
};

constexpr rows<4> right_header_str = {
    "    <td width=\"100%\" valign=\"top\">",
    "      <table border=\"0\" width=\"100%\" cellpadding=\"2\" bordercolor=\"#FF0000\">",
    "        <tr>",
    "          <td width=\"100%\" valign=\"middle\" height=\"400\" background=\"../images/bg01.gif\">",
};

constexpr rows<3> right_footer_str = {
    "        </tr>",
    "      </table>",
    "    </td>",
};

// The seven menu buttons, each a one-button form asking for its page.
constexpr std::size_t button_parts = 7;
constexpr rows<button_parts * INDEX_LINK_COUNT> menu_str = [] {
  rows<button_parts * INDEX_LINK_COUNT> r{};
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i) {
    std::string_view *b = &r[i * button_parts];
    b[0] = "<form action=\"";
    b[1] = CGI_PATH;
    b[2] = "\" method=get><input type=\"hidden\" name=\"rc\" value=\"1\">"
           "<input type=\"hidden\" name=\"index_link\" value=\"";
    b[3] = index_link_value_str[i];
    b[4] = "\"><p align=\"center\" style=\"margin-top: 0; margin-bottom: 0\"><font face=\"Courier New\">"
           "<input type=submit VALUE=\" ";
    b[5] = index_link_print_str[i];
    b[6] = "\"></p></form>";
  }
  return r;
}();

// The path, page names and labels are written as they stand: they hold
// nothing that escaping would change.
static_assert(!needs_escape(CGI_PATH));
static_assert([] {
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i)
    if (needs_escape(index_link_value_str[i]) || needs_escape(index_link_print_str[i]))
      return false;
  return true;
}());

// The menu column with its buttons.
constexpr rows<4> left_str = {joined_view<left_open_str>, joined_view<menu_str>, joined_view<left_close_str>,
                              "</FORM>"};

// Everything a framed page writes before its content.
constexpr rows<5> table_header_str = {table_open_str, joined_view<bannar_str>, joined_view<redline_str>,
                                      row_open_str, joined_view<left_str>};
constexpr rows<2> table_header_all_str = {joined_view<table_header_str>, joined_view<right_header_str>};

// Everything a framed page writes after its content.
constexpr rows<3> table_footer_str = {joined_view<right_footer_str>, "  </tr>", "</table>"};

// One settings field of the form: its label cell, and its input up to the
// value; every input ends alike.
struct wanlan_field {
  std::string_view label;
  std::string_view input;
  NETCONF_ENUM record;
};

constexpr std::array<wanlan_field, 5> wanlan_fields = {{
    {"<TD BGCOLOR=#008080><font color=#ffffff>WAN IP Address</font></TD>",
     "<TD><INPUT TYPE=TEXT NAME=WAN_IPADDR VALUE=\"", E_WAN_IPADDR},
    {"<TD BGCOLOR=#008080><font color=#ffffff>WAN Subnet Mask</font></TD>",
     "<TD><INPUT TYPE=TEXT NAME=WAN_NETMASK VALUE=\"", E_WAN_NETMASK},
    {"<TD BGCOLOR=#008080><font color=#ffffff>WAN Gateway</font></TD>",
     "<TD><INPUT TYPE=TEXT NAME=WAN_ROUTE VALUE=\"", E_WAN_ROUTE},
    {"<TD BGCOLOR=#008080><font color=#ffffff>Primary DNS</font></TD>",
     "<TD><INPUT TYPE=TEXT NAME=DNS1 VALUE=\"", E_DNS1},
    {"<TD BGCOLOR=#008080><font color=#ffffff>Secondary DNS</font></TD>",
     "<TD><INPUT TYPE=TEXT NAME=DNS2 VALUE=\"", E_DNS2},
}};
constexpr std::string_view wanlan_input_end = "\" SIZE=15 MAXLENGTH=15></TD>";

constexpr rows<9> wanlan_open_str = {
    "<FORM ACTION=/cgi-bin/northbeam METHOD=GET NAME=CGI>",
    "<INPUT TYPE=HIDDEN VALUE=\"2\" NAME=rc>",
    "<div align=\"center\">",
    "              <center>",
    "<TABLE BORDER=3 WIDTH=60%>",
    "<TR>",
    "<TD BGCOLOR=#008080><font color=#ffffff>WAN Type</font></TD>",
    "<TD>",
    "<SELECT NAME=WAN_STATICIP>",
};

constexpr std::string_view option_static = "<OPTION> Static IP Address";
constexpr std::string_view option_dynamic = "<OPTION> Dynamic IP Address";

constexpr rows<7> wanlan_close_str = {
    "</TR>",
    "</TABLE><P>",
    "<INPUT TYPE=SUBMIT VALUE=\"Save\">",
    "<INPUT TYPE=RESET VALUE=\"Undo\">",
    "<FONT COLOR=#FF0000>",
    "              </center>",
    "            </div>",
};

// The wait page up to its picture: the frame with an empty menu column.
constexpr rows<7> wait_header_str = {table_open_str,          joined_view<bannar_str>,     joined_view<redline_str>,
                                     row_open_str,            joined_view<left_open_str>, joined_view<left_close_str>,
                                     joined_view<right_header_str>};

// Written after the wait page's document: the browser returns home in 5 s.
constexpr rows<8> wait_refresh_str = {
    "<meta http-equiv=\"refresh\" content=\"5; url=/cgi-bin/northbeam?rc=1&index_link=Hardware\">",
    "<html>",
    "<head>",
    "<title>Tessaline - Your Northbeam Partner</title>",
    "</head>",
    "<body>",
    "</body>",
    "</html>",
};

struct file_closer {
  void operator()(std::FILE *f) const { std::fclose(f); }
};
struct pipe_closer {
  void operator()(std::FILE *f) const { ::pclose(f); }
};

// The answer gathers here and goes to standard output in large pieces: a
// library call for each fragment would cost more than the fragment.
char page_buf[16384];
std::size_t page_used = 0;

// A listed chunk is what an 80-byte line buffer holds: up to and with a
// line feed, or 79 bytes.
constexpr std::size_t chunk_max = 79;
constexpr std::string_view chunk_indent = "        ";
// The bytes html_escape changes; a NUL ends what it writes.
constexpr char escaped_bytes[] = "&<>\"'";

// Writes one plain chunk with its indent: the common case of a listing, in
// one step rather than two.
void put_chunk(std::string_view chunk) {
  if (chunk_indent.size() + chunk.size() > sizeof page_buf - page_used)
    html_flush();
  char *at = page_buf + page_used;
  std::copy_n(chunk_indent.data(), chunk_indent.size(), at);
  std::copy(chunk.begin(), chunk.end(), at + chunk_indent.size());
  page_used += chunk_indent.size() + chunk.size();
}

// Writes the stream chunk by chunk, each indented and escaped only after it
// is cut, so the chunks stay where they fall. /proc text seldom needs
// escaping, so plain chunks are written as they stand and only the others
// (or one holding a NUL) go through html_escape.
void list_chunks(std::FILE *f) {
  char in[4096 + 1];
  std::size_t have = 0, pos = 0, plain_end = 0;
  bool eof = false;
  while (!eof) {
    // What is left is part of one chunk, shorter than chunk_max.
    std::memmove(in, in + pos, have - pos);
    have -= pos;
    pos = 0;
    std::size_t room = sizeof in - 1 - have;
    std::size_t got = std::fread(in + have, 1, room, f);
    eof = got < room;
    have += got;
    in[have] = '\0';
    plain_end = std::strcspn(in, escaped_bytes);
    while (pos < have) {
      std::size_t limit = std::min(chunk_max, have - pos);
      const auto *nl = static_cast<const char *>(std::memchr(in + pos, '\n', limit));
      if (nl == nullptr && limit < chunk_max && !eof)
        break; // the chunk goes on in the next read
      std::size_t len = nl != nullptr ? static_cast<std::size_t>(nl - (in + pos)) + 1 : limit;
      if (pos + len <= plain_end) {
        put_chunk({in + pos, len});
      } else {
        html_out(chunk_indent);
        char line[chunk_max + 1];
        std::memcpy(line, in + pos, len);
        line[len] = '\0';
        html_escape(line);
        plain_end = pos + len + std::strcspn(in + pos + len, escaped_bytes);
      }
      pos += len;
    }
  }
}

// Runs a board command through /bin/sh and lists what it prints. Its output
// comes through a private pipe, so concurrent requests never see each
// other's, and nothing is left in /tmp.
void list_command(const char *command) {
  std::unique_ptr<std::FILE, pipe_closer> p(::popen(command, "r"));
  if (p)
    html_table_list(p.get());
}

} // namespace

void html_out(std::string_view s) {
  if (s.size() > sizeof page_buf - page_used) {
    html_flush();
    if (s.size() > sizeof page_buf) {
      std::fwrite(s.data(), 1, s.size(), stdout);
      return;
    }
  }
  std::copy(s.begin(), s.end(), page_buf + page_used);
  page_used += s.size();
}

void html_flush() {
  std::fwrite(page_buf, 1, page_used, stdout);
  page_used = 0;
  std::fflush(stdout);
}

void html_escape(const char *s) {
  const char *run = s;
  for (;; ++s) {
    std::string_view ref;
    switch (*s) {
    case '\0':
      html_out({run, static_cast<std::size_t>(s - run)});
      return;
    case '&': ref = "&amp;"; break;
    case '<': ref = "&lt;"; break;
    case '>': ref = "&gt;"; break;
    case '"': ref = "&quot;"; break;
    case '\'': ref = "&#39;"; break;
    default: continue;
    }
    html_out({run, static_cast<std::size_t>(s - run)});
    html_out(ref);
    run = s + 1;
  }
}

void htmlHeader(const char *title) {
  html_out("Content-type: text/html\n\n<HTML><HEAD><TITLE>");
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

void html_table_header() { write_rows<table_header_all_str>(); }

void html_table_footer() { write_rows<table_footer_str>(); }

void html_bannar() { write_rows<bannar_str>(); }

void html_redline() { write_rows<redline_str>(); }

void html_left() { write_rows<left_str>(); }

void html_left_submit() { write_rows<menu_str>(); }

void html_right_header() { write_rows<right_header_str>(); }

void html_right_footer() { write_rows<right_footer_str>(); }

void html_table_hardware() {
  html_table_header();
  html_out("            <p align=\"center\"><img border=\"0\" src=\"../images/IntelIXP425.jpg\" width=\"300\" height=\"200\"></td>");
  html_table_footer();
}

void html_table_list(std::FILE *f) {
  html_table_header();
  html_out("<pre>");
  list_chunks(f);
  html_out("</pre>");
  html_table_footer();
}

void html_table_procinfo(const char *proc_name) {
  std::unique_ptr<std::FILE, file_closer> f(std::fopen(proc_name, "re"));
  if (f)
    html_table_list(f.get());
}

void html_table_netstat() { list_command(CMD_IFCONFIG); }

void html_table_routetable() { list_command(CMD_ROUTE); }

void html_table_wanlan() {
  read_netdata();
  html_table_header();
  write_rows<wanlan_open_str>();
  // A browser selects the first option, so the current type comes first.
  bool is_static = std::strcmp(netconf[E_WAN_STATICIP].value, "y") == 0;
  html_out(is_static ? option_static : option_dynamic);
  html_out(is_static ? option_dynamic : option_static);
  html_out("</SELECT></TD></TR>");
  for (std::size_t i = 0; i < wanlan_fields.size(); ++i) {
    if (i != 0)
      html_out("</TR><TR>");
    html_out(wanlan_fields[i].label);
    html_out(wanlan_fields[i].input);
    html_escape(netconf[wanlan_fields[i].record].value);
    html_out(wanlan_input_end);
  }
  write_rows<wanlan_close_str>();
  html_table_footer();
}

void html_table_wait() {
  write_rows<wait_header_str>();
  html_out("            <p align=\"center\"><img border=\"0\" src=\"../images/wait.gif\" width=\"60\" height=\"60\"></td>");
  html_table_footer();
}

void html_wait_refresh() { write_rows<wait_refresh_str>(); }
