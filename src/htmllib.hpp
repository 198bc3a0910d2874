// Everything the program writes to standard output: the document shell,
// the framed page with its menu, and the pages.
#ifndef NORTHBEAM_HTMLLIB_HPP
#define NORTHBEAM_HTMLLIB_HPP

#include <cstdio>
#include <string_view>

// Writes s exactly as it stands.
void html_out(std::string_view s);

// Writes the NUL-terminated s with &, <, >, " and ' as character
// references; every other byte as it stands. All text that comes from a
// request, a file or a command goes out through here.
void html_escape(const char *s);

// The CGI header, all that HEAD gets: the content type, then what keeps
// other sites from framing the pages, guessing their type or reading
// their addresses, and the blank line.
void html_content_type();
// The CGI header and the HTML head with title.
void htmlHeader(const char *title);
// "<BODY>".
void htmlBody();
// "</BODY></HTML>".
void htmlFooter();

// One "<li>DEBUG: [name] = [value]\n" line (with rc: "<li>RC DEBUG: ...").
void html_debug(bool rc, const char *name, const char *value);

// Opens a framed page: banner, red rule, menu and the content cell.
void html_table_header();
// Closes a framed page. The content cell's own "</td>" is the page's: the
// home and wait pages write it after their picture; the listing and form
// pages leave the cell open, as the board's browsers have always had it.
void html_table_footer();
// The parts of a framed page: the banner row with its three pictures, the
// red rule row, the menu column with its seven buttons, the seven one-button
// menu forms, and the opening and closing of the content cell's table.
void html_bannar();
void html_redline();
void html_left();
void html_left_submit();
void html_right_header();
void html_right_footer();

// The home page: the board picture in a framed page.
void html_table_hardware();

// Lists the file at proc_name in a framed page; nothing when it can't open.
void html_table_procinfo(const char *proc_name);
// Lists what f holds in a framed page, as an 80-byte line buffer reads it.
void html_table_list(FILE *f);
// Lists the output of the board's ifconfig.
void html_table_netstat();
// Lists the output of the board's route.
void html_table_routetable();

// The WAN/DNS settings form, filled from the settings file.
void html_table_wanlan();

// The wait page's frame: an empty menu and the wait picture.
void html_table_wait();
// The refresh back to the home page that follows the wait page.
void html_wait_refresh();

#endif
