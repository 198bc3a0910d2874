// northbeam: the web interface of the board, one CGI request per process.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "cgivars.hpp"
#include "funlib.hpp"
#include "htmllib.hpp"

namespace {

// The home page in its document shell.
void home_document() {
  htmlHeader(PAGE_TITLE);
  htmlBody();
  html_table_hardware();
  htmlFooter();
}

// Writes one menu page. The switch has no default, so a page added to
// INDEX_LINK_ENUM without its writer here fails the build (-Wswitch).
void write_page(INDEX_LINK_ENUM page) {
  switch (page) {
  case HARDWARE: html_table_hardware(); break;
  case CPUINFO: html_table_procinfo(PATH_CPUINFO); break;
  case MEMINFO: html_table_procinfo(PATH_MEMINFO); break;
  case PCIINFO: html_table_procinfo(PATH_PCI); break;
  case WANLAN: html_table_wanlan(); break;
  case NETSTAT: html_table_netstat(); break;
  case ROUTETABLE: html_table_routetable(); break;
  case INDEX_LINK_COUNT: break;
  }
}

// rc=1: each following pair names a page, or gets a debug line. Pairs
// naming a page past the first PAGES_PER_REQUEST are skipped.
void page_request(varlist vars) {
  htmlHeader(PAGE_TITLE);
  htmlBody();
  int pages = 0;
  for (char **p = vars + 2; *p != nullptr; p += 2) {
    // Once a write has failed the browser has gone: no further page is
    // written and no further command started.
    if (std::ferror(stdout))
      return;
    const char *name = p[0];
    const char *value = p[1];
    int page = cgi_name_parse(name) == INDEX_LINK ? index_link_parse(value) : -1;
    if (page >= 0 && ++pages > PAGES_PER_REQUEST)
      continue;
    if (page < 0) {
      html_debug(false, name, value);
      continue;
    }
    write_page(static_cast<INDEX_LINK_ENUM>(page));
    // Each page goes to the browser when it is done, so that a browser that
    // has gone shows before the next page's work.
    std::fflush(stdout);
  }
  htmlFooter();
}

// The settings form as the file now reads, in its document shell: the
// answer to a save that stored nothing.
void form_document() {
  htmlHeader(PAGE_TITLE);
  htmlBody();
  html_table_wanlan();
  htmlFooter();
}

// rc=2: store the settings, then become /etc/Configure while a child
// answers the browser with the wait page. Returns in the child, and in the
// parent only when /etc/Configure could not be started.
void save_request(varlist vars) {
  // A save is a GET, so another site's page could send one: without proof
  // that it comes from the board's own page it changes nothing. The
  // browser sees the home page; the server's error log says why, for the
  // owner whose save did not take.
  save_context context = request_save_context();
  save_verdict verdict = check_save(context);
  if (verdict != save_verdict::taken) {
    char line[REFUSAL_LINE_SIZE];
    refusal_line(line, verdict, context);
    std::fputs(line, stderr);
    home_document();
    return;
  }
  char netdata[NETDATA_SIZE] = "";
  bool any = false;
  for (char **p = vars + 2; *p != nullptr; p += 2)
    any = netdata_append(netdata, p[0], p[1]) || any;
  // Pairs that stored nothing (all left out, or the file could not be
  // written) start nothing; the form shows at once that nothing was saved.
  // rc=2 alone applies the file as it stands.
  bool had_pairs = vars[2] != nullptr;
  if (had_pairs && !(any && write_netdata(netdata))) {
    form_document();
    return;
  }

  // Nothing is buffered yet, so the fork duplicates no output.
  pid_t pid = ::fork();
  if (pid < 0) {
    home_document();
  } else if (pid > 0) {
    char *const netconf_argv[] = {const_cast<char *>(PATH_CONFIGURE), nullptr};
    char *const netconf_envp[] = {nullptr};
    std::signal(SIGPIPE, SIG_DFL); // /etc/Configure starts as the web server would start it
    ::execve(PATH_CONFIGURE, netconf_argv, netconf_envp);
    // The browser still sees the wait page: the server's error log is the
    // one place that can tell the board's owner that nothing was applied.
    std::fprintf(stderr, "northbeam: cannot start %s: %s\n", PATH_CONFIGURE, std::strerror(errno));
  } else {
    htmlHeader(PAGE_TITLE);
    htmlBody();
    html_table_wait();
    htmlFooter();
    html_wait_refresh();
  }
}

} // namespace

// Command-line arguments are ignored: some servers pass a query as them.
int main() {
  // A browser that leaves mid-page fails the writes; the request still ends
  // normally, with its settings saved and status 0.
  std::signal(SIGPIPE, SIG_IGN);
  int form_method = getRequestMethod();
  varlist getvars = form_method >= 0 ? getGETvars() : nullptr;
  varlist postvars = form_method == 1 ? getPOSTvars() : nullptr;

  if (form_method == 0 && is_head_request()) {
    // HEAD must have no body: a server that passes one on would hand it to
    // a keep-alive client as the next answer. It changes nothing either.
    html_content_type();
  } else if (form_method == 0) {
    if (getvars == nullptr || getvars[0] == nullptr) {
      home_document(); // the bare address
    } else {
      switch (get_rc(getvars[0], getvars[1])) {
      case 1: page_request(getvars); break;
      case 2: save_request(getvars); break;
      default:
        htmlHeader(PAGE_TITLE);
        htmlBody();
        html_debug(true, getvars[0], getvars[1]);
        htmlFooter();
        break;
      }
    }
  }

  cleanUp(form_method, getvars, postvars);
  std::fflush(stdout);
  return 0;
}
