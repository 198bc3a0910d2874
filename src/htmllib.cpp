// The pages of the board's web interface, fragment by fragment. Nearly all
// of a page is one long line; only debug lines and listed text break it.
#include "htmllib.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__SSE2__) && !defined(NB_SCAN_WORDS)
#include <emmintrin.h>
#endif

#include "cgivars.hpp"
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

// The answer gathers here and goes to standard output in large pieces: a
// library call for each fragment would cost more than the fragment.
constexpr std::size_t page_size = 16384;
// A listing copies 16 bytes at a time, and its last may reach past its chunk.
char page_buf[page_size + 16];
std::size_t page_used = 0;

// A listed chunk is what an 80-byte line buffer holds: up to and with a
// line feed, or 79 bytes.
constexpr std::size_t chunk_max = 79;
constexpr std::string_view chunk_indent = "        ";

#if defined(__SSE2__) && !defined(NB_SCAN_WORDS)
// Plain chunks are copied and searched for their line feed 16 bytes at a
// time where the CPU has the vector instructions for it (every x86-64).
constexpr std::size_t scan_size = 16;

// Copies the scan_size bytes at from to to; returns the index of the first
// line feed among them, or scan_size when there is none.
std::size_t copy_scan(char *to, const char *from) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(to), v);
  auto feeds = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))));
  return feeds == 0 ? scan_size : static_cast<std::size_t>(__builtin_ctz(feeds));
}

// Zero in each byte of v that html_escape changes, that is a NUL, or that
// is a "#", which the test for '"' lets through for one instruction less.
__m128i plain_bytes(__m128i v) {
  // '"', "#", "&" and "'" differ only in bits 0 and 2; "<" and ">" in bit 1.
  __m128i quot_apos = _mm_xor_si128(_mm_or_si128(v, _mm_set1_epi8(5)), _mm_set1_epi8('\''));
  __m128i lt_gt = _mm_xor_si128(_mm_or_si128(v, _mm_set1_epi8(2)), _mm_set1_epi8('>'));
  return _mm_min_epu8(_mm_min_epu8(quot_apos, lt_gt), v);
}

// How many bytes a span test reads at once.
constexpr std::size_t span_block = 8 * scan_size;

// The index of the first byte at s that html_escape changes, or of the
// first NUL (or sooner, at a "#"); s must be readable for span_block - 1
// bytes past that. The C library's strcspn may test a byte at a time, as
// small boards' libraries do; this tests 128 bytes in about 80 instructions.
std::size_t plain_span(const char *s) {
  for (std::size_t i = 0;; i += span_block) {
    __m128i v[span_block / scan_size];
    __m128i all = _mm_set1_epi8(-1);
    for (std::size_t k = 0; k < span_block / scan_size; ++k) {
      v[k] = plain_bytes(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + k * scan_size)));
      all = _mm_min_epu8(all, v[k]);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(all, _mm_setzero_si128())) == 0)
      continue;
    for (std::size_t k = 0;; ++k)
      if (auto m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v[k], _mm_setzero_si128()))); m != 0)
        return i + k * scan_size + static_cast<std::size_t>(__builtin_ctz(m));
  }
}
#else
// Elsewhere a machine word at a time.
using word_t = std::uintptr_t;
constexpr std::size_t scan_size = sizeof(word_t);

std::size_t copy_scan(char *to, const char *from) {
  word_t w;
  std::memcpy(&w, from, sizeof w);
  std::memcpy(to, &w, sizeof w);
  constexpr word_t ones = ~word_t{0} / 0xFF;
  word_t x = w ^ (ones * '\n');
  // Non-zero exactly when some byte of x is zero, that is a line feed.
  if (((x - ones) & ~x & (ones * 0x80)) == 0)
    return scan_size;
  for (std::size_t i = 0;; ++i)
    if (from[i] == '\n')
      return i;
}

// The bytes html_escape changes; a NUL ends what it writes.
constexpr char escaped_bytes[] = "&<>\"'";

// Testing several bytes a word at a time would cost more than the C
// library's table.
std::size_t plain_span(const char *s) { return std::strcspn(s, escaped_bytes); }
constexpr std::size_t span_block = 1;
#endif

// Copies the plain chunks from in[pos] into the page, each with its indent,
// as long as a chunk's 79 bytes all lie before stop (so it is whole and
// needs no escaping), or with ends_there, where the text ends at stop with
// nothing to escape, to its end; returns where it stopped. Copying and
// searching for the line feed go together, a vector or word at a time, so
// a listing costs a few instructions for each rather than a library call
// or two a line. The text must have chunk_max + scan_size bytes of slack.
template <bool ends_there> std::size_t put_plain_chunks(const char *in, std::size_t pos, std::size_t stop) {
  constexpr std::size_t reach = ends_there ? 1 : chunk_max;
  if (stop < pos + reach)
    return pos;
  constexpr std::size_t most = chunk_indent.size() + chunk_max + scan_size;
  const char *from = in + pos, *last = in + (stop - reach);
  char *out = page_buf + page_used, *out_last = page_buf + page_size - most;
  while (from <= last) {
    if (out > out_last) {
      page_used = static_cast<std::size_t>(out - page_buf);
      html_flush();
      out = page_buf;
    }
    std::memcpy(out, chunk_indent.data(), chunk_indent.size());
    std::size_t n = 0, at;
    do {
      at = n + copy_scan(out + chunk_indent.size() + n, from + n);
      n += scan_size;
    } while (at == n && n < chunk_max);
    std::size_t len = std::min(at + 1, chunk_max);
    if constexpr (ends_there)
      len = std::min(len, static_cast<std::size_t>(in + stop - from));
    from += len;
    out += chunk_indent.size() + len;
  }
  page_used = static_cast<std::size_t>(out - page_buf);
  return static_cast<std::size_t>(from - in);
}

// Writes what fd holds chunk by chunk, each indented and escaped only after
// it is cut, so the chunks stay where they fall. /proc text seldom needs
// escaping, so plain chunks go into the page as they stand and only the
// others (or one holding a NUL) go through html_escape.
void list_chunks(int fd) {
  constexpr std::size_t block = 4096;
  // Before a read, what is left is part of one chunk, shorter than
  // chunk_max; zeros follow the text, as copying a chunk and testing it for
  // bytes to escape may read on.
  constexpr std::size_t slack = std::max(chunk_max + scan_size, span_block) + 1;
  char in[chunk_max + block + slack];
  std::size_t have = 0;
  for (bool eof = false; !eof;) {
    std::size_t got = read_some(fd, in + have, block);
    eof = got == 0;
    have += got;
    std::memset(in + have, 0, slack);
    std::size_t pos = 0, plain_end = plain_span(in);
    for (;;) {
      pos = put_plain_chunks<false>(in, pos, plain_end);
      if (eof && plain_end == have)
        pos = put_plain_chunks<true>(in, pos, have);
      if (pos == have || (!eof && plain_end == have))
        break; // all written, or the rest waits for the next read
      // A chunk with something to escape, or just before one.
      std::size_t limit = std::min(chunk_max, have - pos);
      const char *nl = std::find(in + pos, in + pos + limit, '\n');
      if (nl == in + pos + limit && limit < chunk_max && !eof)
        break; // the chunk goes on in the next read
      std::size_t len = nl != in + pos + limit ? static_cast<std::size_t>(nl - (in + pos)) + 1 : limit;
      html_out(chunk_indent);
      if (pos + len <= plain_end) {
        html_out({in + pos, len});
      } else {
        char line[chunk_max + 1];
        std::memcpy(line, in + pos, len);
        line[len] = '\0';
        html_escape(line);
        plain_end = pos + len + plain_span(in + pos + len);
      }
      pos += len;
    }
    // Short, so a loop: forward, as the two may overlap.
    for (std::size_t i = pos; i < have; ++i)
      in[i - pos] = in[i];
    have -= pos;
  }
}

// Runs a board command and lists what it prints. The command is started
// directly, as its fixed path takes no arguments and needs no shell, and
// its output comes through a private pipe, so concurrent requests never see
// each other's and nothing is left in /tmp. Its exit status is ignored.
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
    static char *const no_environment[] = {nullptr};
    ::execve(command, argv, cgi_environ != nullptr ? cgi_environ : no_environment);
    ::_exit(127);
  }
  to.reset();
  if (pid < 0)
    return;
  html_table_list(from.get());
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

} // namespace

void html_out(std::string_view s) {
  if (s.size() > page_size - page_used) {
    html_flush();
    if (s.size() > page_size) {
      std::fwrite(s.data(), 1, s.size(), stdout);
      return;
    }
  }
  std::memcpy(page_buf + page_used, s.data(), s.size());
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
  write_rows<wanlan_open_str>();
  // A browser selects the first option, so the current type comes first.
  bool is_static = text_is(netconf[E_WAN_STATICIP].value, "y");
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
