// Hostile requests and a failing board, against the whole program: each row
// is a request, the board it meets, and the answer, exit status and
// settings file it must leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "cgivars.hpp"
#include "harness.hpp"

namespace {

// What the board looks like when the request comes.
enum class board_fault {
  none,
  full_disk,    // a tiny file system at /tmp, filled up
  unwritable,   // /tmp read-only to the program
  no_configure, // /etc/Configure missing
  noexec,       // /etc/Configure not executable
  bad_interp,   // /etc/Configure names an interpreter that is not there
  noisy,        // /etc/Configure writes to standard output meanwhile
};

struct row {
  std::string what;
  request req;
  std::string out;         // exact answer (noise of a noisy /etc/Configure removed), or "<any>"
  std::string before = ""; // settings path: "" none, "<fifo>", "<dir>", "<dangling>", or its text
  std::string after = "<same>"; // settings path afterwards, as described below
  int status = 0;               // of every process the request left
  board_fault fault = board_fault::none;
  int started = -1; // times /etc/Configure ran, -1 unchecked
  int routed = -1;  // most times /sbin/route may run, -1 unchecked
};

const std::string hardware = golden("hardware");
const std::string wait_page = wait_answer();
const std::string noise_line = "CONFIGURE-NOISE\n"; // 16 bytes: written whole

std::string debug(const std::string &name, const std::string &value, bool rc = false) {
  return std::string(rc ? "<li>RC DEBUG: [" : "<li>DEBUG: [") + name + "] = [" + value + "]\n";
}

// The settings form showing the given (already escaped) address fields,
// each other field its default.
std::string form(const std::string &ip) { return shell(form_page({{"WAN_IPADDR", ip}})); }
std::string form(const std::string &ip, const std::string &mask, const std::string &route,
                 const std::string &dns1, const std::string &dns2) {
  return shell(form_page({{"WAN_IPADDR", ip},
                          {"WAN_NETMASK", mask},
                          {"WAN_ROUTE", route},
                          {"DNS1", dns1},
                          {"DNS2", dns2}}));
}

// The settings path as a row names it.
std::string describe() {
  std::string p = board("/tmp/config.out");
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0)
    return "";
  if (S_ISFIFO(st.st_mode))
    return "<fifo>";
  if (S_ISDIR(st.st_mode))
    return "<dir>";
  if (S_ISLNK(st.st_mode))
    return "<dangling>";
  return get("/tmp/config.out");
}

void lay_settings(const std::string &state) {
  std::string p = board("/tmp/config.out");
  if (state == "<fifo>")
    ::mkfifo(p.c_str(), 0666);
  else if (state == "<dir>")
    ::mkdir(p.c_str(), 0755);
  else if (state == "<dangling>")
    (void)!::symlink(board("/tmp/nowhere").c_str(), p.c_str());
  else if (!state.empty())
    put("/tmp/config.out", state);
}

// Temporary files the save left beside the settings file.
int leftovers() {
  int n = 0;
  if (DIR *d = ::opendir(board("/tmp").c_str())) {
    while (dirent *e = ::readdir(d))
      n += std::string(e->d_name).rfind("config.out.", 0) == 0;
    ::closedir(d);
  }
  return n;
}

std::string without_noise(std::string s) {
  for (std::size_t i; (i = s.find(noise_line)) != std::string::npos;)
    s.erase(i, noise_line.size());
  return s;
}

// Statuses of the processes a request left behind (the wait page's writer),
// collected as their reaper; "hung" after 20 seconds.
std::vector<int> orphans() {
  std::vector<int> st;
  for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);;) {
    int s = 0;
    pid_t pid = ::waitpid(-1, &s, WNOHANG);
    if (pid > 0)
      st.push_back(WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s));
    else if (pid < 0)
      return st;
    else if (std::chrono::steady_clock::now() > end)
      return {-1};
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// Queries that need building, kept alive for the rows that point at them.
std::deque<std::string> built_queries;

// q, kept for as long as the rows live.
const char *kept(std::string q) { return built_queries.emplace_back(std::move(q)).c_str(); }

// A query that asks for the route table n times.
std::string route_pages(int n) {
  std::string q = "rc=1";
  for (int i = 0; i < n; ++i)
    q += "&index_link=Route+Table";
  return q;
}

// The name of the longest query the kernel passes: a single environment
// string holds at most 128 KiB with its NUL.
const std::string longest_name(131072 - sizeof "QUERY_STRING=" - sizeof "rc=1&=%3C" + 1, 'x');

std::vector<row> hostile_rows() {
  std::vector<row> rows = {
      // Markup and quotes on every page.
      {"markup beside a page",
       {"GET", "rc=1&index_link=Hardware&%3Cimg+src=x+onerror=alert(1)%3E=%22%27"},
       shell(hardware + debug("&lt;img src", "x onerror=alert(1)&gt;=&quot;&#39;"))},
      {"markup as a page name",
       {"GET", "rc=1&index_link=%3C/pre%3E%3Cscript%3E"},
       shell(debug("index_link", "&lt;/pre&gt;&lt;script&gt;"))},
      {"markup as the action code's name",
       {"GET", "%22%27%26=%3E"},
       shell(debug("&quot;&#39;&amp;", "&gt;", true))},
      {"markup in every settings field",
       {"GET", "rc=1&index_link=Wan+Lan+Setting"},
       form("&lt;b&gt;", "&#39;&gt;&lt;x", "a&amp;b", "&lt;/td&gt;", "&#39;onfocus=&#39;"),
       "WAN_IPADDR=\"<b>\"\n"
       "WAN_NETMASK=\"'><x\"\n"
       "WAN_ROUTE=a&b\n"
       "DNS1=\"</td>\"\n"
       "DNS2='onfocus='\n"},
      {"a quote in the file cannot end the attribute",
       {"GET", "rc=1&index_link=Wan+Lan+Setting"},
       form("x onmouseover=alert(1)"),
       "WAN_IPADDR=\"x\" onmouseover=alert(1)\n"},
      {"saved markup is stored as text",
       {"GET", "rc=2&DNS1=%3Cscript%3E", own_page},
       wait_page,
       "",
       "DNS1=\"<script>\"\n"},
      // Sizes.
      {"100,000 ampersands",
       {"GET", kept("rc=1" + std::string(99999, '&') + "index_link=Hardware&")},
       shell(hardware)},
      {"the longest query the kernel passes",
       {"GET", kept("rc=1&" + longest_name + "=%3C")},
       shell(debug(longest_name, "&lt;"))},
      // High bytes and NUL.
      {"high bytes pass through",
       {"GET", "rc=1&\xff\xfe=%FF%80\xc3\xa9"},
       shell(debug("\xff\xfe", "\xff\x80\xc3\xa9"))},
      {"a NUL ends a name", {"GET", "rc%00junk=1&index_link=Hardware"}, shell(hardware)},
      {"a NUL ends a page name",
       {"GET", "rc=1&index_link=Hardware%00Route+Table"},
       shell(hardware)},
      {"a NUL ends a saved value",
       {"GET", "rc=2&DNS1=1.2.3.4%00%24(reboot)", own_page},
       wait_page,
       "",
       "DNS1=\"1.2.3.4\"\n"},
      {"a NUL ends a saved name",
       {"GET", "rc=2&DNS1%00;reboot=9.9.9.9", own_page},
       wait_page,
       "",
       "DNS1=\"9.9.9.9\"\n"},
      {"control bytes are refused",
       {"GET", "rc=2&DNS1=a%01b&DNS2=a%1Fb&WAN_ROUTE=a%09b&WAN_NETMASK=%FFok", own_page},
       wait_page,
       "",
       "WAN_NETMASK=\"\xffok\"\n"},
      {"POST never saves",
       {"POST", "rc=2&DNS1=6.6.6.6", {"CONTENT_LENGTH=9"}, "rc=2&DNS1"},
       "",
       "old\n",
       "<same>",
       0,
       board_fault::none,
       0},
      // Odd things at the settings path.
      {"save over a FIFO",
       {"GET", "rc=2&DNS1=1.1.1.1", own_page},
       wait_page,
       "<fifo>",
       "DNS1=\"1.1.1.1\"\n",
       0,
       board_fault::none,
       1},
      {"save over a directory",
       {"GET", "rc=2&DNS1=1.1.1.1", own_page},
       form(default_of(E_WAN_IPADDR)),
       "<dir>",
       "<dir>",
       0,
       board_fault::none,
       0},
      {"save over a dangling link",
       {"GET", "rc=2&DNS1=1.1.1.1", own_page},
       wait_page,
       "<dangling>",
       "DNS1=\"1.1.1.1\"\n"},
      // A save without proof that it comes from the board's own page.
      {"a save with no signal",
       {"GET", "rc=2&DNS1=6.6.6.6", {"HTTP_HOST=127.0.0.1:8080"}},
       shell(hardware),
       "old\n",
       "<same>",
       0,
       board_fault::none,
       0},
      {"a save from another page of the board",
       {"GET",
        "rc=2&DNS1=6.6.6.6",
        {own_page[0], "HTTP_REFERER=http://127.0.0.1:8080/", own_page[2]}},
       shell(hardware),
       "old\n",
       "<same>",
       0,
       board_fault::none,
       0},
      {"a save without SCRIPT_NAME",
       {"GET", "rc=2&DNS1=6.6.6.6", {own_page[0], own_page[1]}},
       shell(hardware),
       "old\n",
       "<same>",
       0,
       board_fault::none,
       0},
      {"a HEAD save",
       {"HEAD", "rc=2&DNS1=6.6.6.6", own_page},
       golden("header"),
       "old\n",
       "<same>",
       0,
       board_fault::none,
       0},
      // Saves that store nothing show the form as the file reads, and start
      // nothing.
      {"every pair unsafe",
       {"GET", "rc=2&PATH=/tmp&DNS1=%24(reboot)", own_page},
       form(default_of(E_WAN_IPADDR)),
       "old\n",
       "<same>",
       0,
       board_fault::none,
       0},
      // Only the settings table's names are stored: any other may be one
      // that a shell, the C library, the locale or a network client reads.
      {"names outside the settings table",
       {"GET",
        "rc=2&PERL5OPT=-Mx&WAN=1&RESOLV=x&LOG=y&FOO=bar&EXECIGNORE=*&GCONV_PATH=/tmp&TZ=x"
        "&Https_Proxy=http://x&dns1=1.1.1.1",
        own_page},
       form("10.1.10.227"),
       "old\n",
       "<same>",
       0,
       board_fault::none,
       0},
      {"names outside the settings table beside one of it",
       {"GET", "rc=2&PERL5OPT=-Mx&WAN=1&DNS1=1.1.1.1&RESOLV=x&LOG=y&FOO=bar", own_page},
       wait_page,
       "old\n",
       "DNS1=\"1.1.1.1\"\n",
       0,
       board_fault::none,
       1},
      // A failing board.
      {"unwritable settings folder",
       {"GET", "rc=2&DNS1=6.6.6.6", own_page, "", {}, true},
       form(default_of(E_WAN_IPADDR)),
       "old\n",
       "<same>",
       0,
       board_fault::unwritable,
       0},
      {"full file system",
       {"GET", "rc=2&DNS1=6.6.6.6&DNS2=77777777777777777777", own_page},
       form(default_of(E_WAN_IPADDR)),
       "old\n",
       "<same>",
       0,
       board_fault::full_disk,
       0},
      {"no /etc/Configure",
       {"GET", "rc=2&DNS1=6.6.6.6", own_page},
       wait_page,
       "old\n",
       "DNS1=\"6.6.6.6\"\n",
       0,
       board_fault::no_configure},
      {"/etc/Configure not executable",
       {"GET", "rc=2&DNS1=6.6.6.6", own_page},
       wait_page,
       "old\n",
       "DNS1=\"6.6.6.6\"\n",
       0,
       board_fault::noexec,
       0},
      {"/etc/Configure with a missing interpreter",
       {"GET", "rc=2&DNS1=6.6.6.6", own_page},
       wait_page,
       "old\n",
       "DNS1=\"6.6.6.6\"\n",
       0,
       board_fault::bad_interp,
       0},
      {"/etc/Configure writing meanwhile",
       {"GET", "rc=2&DNS1=6.6.6.6", own_page},
       wait_page,
       "old\n",
       "DNS1=\"6.6.6.6\"\n",
       0,
       board_fault::noisy,
       1},
      {"standard output closed, save",
       {"GET", "rc=2&DNS1=6.6.6.6", own_page, "", {}, false, request::closed},
       "",
       "old\n",
       "DNS1=\"6.6.6.6\"\n",
       0,
       board_fault::none,
       1},
      {"standard output closed, form",
       {"GET", "rc=1&index_link=Wan+Lan+Setting", {}, "", {}, false, request::closed},
       "",
       "old\n"},
      {"web server gone, save",
       {"GET", "rc=2&DNS1=6.6.6.6", own_page, "", {}, false, request::reader_gone},
       "<any>",
       "old\n",
       "DNS1=\"6.6.6.6\"\n",
       0,
       board_fault::none,
       1},
      {"web server gone, page",
       {"GET",
        "rc=1&index_link=Hardware&index_link=Hardware",
        {},
        "",
        {},
        false,
        request::reader_gone},
       "<any>"},
      {"standard output closed, many command pages",
       {"GET", kept(route_pages(50)), {}, "", {}, false, request::closed},
       "",
       "",
       "",
       0,
       board_fault::none,
       -1,
       1},
  };
  return rows;
}

// Rows built from tables of their own: each with its own query.
void add_built_rows(std::vector<row> &rows) {
  // Every malformed escape at the start, middle and end of a name and a
  // value, each sent as name=value: unchecked digits, cut-off escapes kept,
  // a decoded NUL ending the text. Each row: the escape, then what the
  // four shapes "E", "Eab", "aEb" and "abE" decode to (octal escapes, so
  // that a letter after one is no digit of it).
  struct escape {
    std::string sent;
    std::array<std::string, 4> decoded;
  };
  const std::vector<escape> escapes = {
      {"%", {"%", "\253", "a%b", "ab%"}},
      {"%4", {"%4", "Jb", "aK", "ab%4"}},
      {"%G", {"%G", "\nb", "a\013", "ab%G"}},
      {"%GG", {"\020", "\020ab", "a\020b", "ab\020"}},
      {"%%", {"%%", "Zb", "a[", "ab%%"}},
      {"%%4", {"T", "Tab", "aTb", "abT"}},
      {"%0", {"%0", "\nb", "a\013", "ab%0"}},
      {"%-1", {"\321", "\321ab", "a\321b", "ab\321"}},
      {"%+1", {"\001", "\001ab", "a\001b", "ab\001"}},
      {"%g0", {"", "", "a", "ab"}},
      {"%4g", {"P", "Pab", "aPb", "abP"}},
      {"%ZZ", {"S", "Sab", "aSb", "abS"}},
      {"%\377\377", {"(", "(ab", "a(b", "ab("}},
  };
  for (const escape &e : escapes) {
    std::string q = "rc=1";
    std::string lines;
    std::size_t k = 0;
    for (std::string shape : {"E", "Eab", "aEb", "abE"}) {
      shape.replace(shape.find('E'), 1, e.sent);
      q += "&" + shape + "=" + shape;
      lines += debug(e.decoded[k], e.decoded[k]);
      ++k;
    }
    rows.push_back({"escape " + e.sent, {"GET", kept(q)}, shell(lines)});
  }
  // Shell metacharacters and line breaks, each in one of the settings
  // fields in turn: stored as sent inside the quotes, or refused.
  struct meta {
    const char *sent, *stored; // stored: null when the pair is refused
  };
  const std::vector<meta> metas = {
      {"a;reboot", "a;reboot"},
      {"a|reboot", "a|reboot"},
      {"a%26%26reboot", "a&&reboot"},
      {"(reboot)", "(reboot)"},
      {"a>/etc/x", "a>/etc/x"},
      {"%27;reboot;%27", "';reboot;'"},
      {"*", "*"},
      {"~root", "~root"},
      {"a+b", "a b"},
      {"%24(reboot)", nullptr},
      {"%24HOME", nullptr},
      {"%60reboot%60", nullptr},
      {"a%22;reboot;%22", nullptr},
      {"a%5C", nullptr},
      {"a%0Areboot", nullptr},
      {"a%0Dreboot", nullptr},
      {"a%0D%0Areboot", nullptr},
      {"%0A", nullptr},
      {"a%7Fb", nullptr},
      {"a%1B[2J", nullptr},
  };
  const char *const fields[] = {"WAN_IPADDR", "WAN_NETMASK", "WAN_NETWORK",
                                "WAN_ROUTE",  "DNS1",        "DNS2"};
  for (std::size_t i = 0; i < metas.size(); ++i) {
    const meta &m = metas[i];
    std::string field = fields[i % 6];
    std::string line = m.stored != nullptr ? field + "=\"" + m.stored + "\"\n" : "";
    rows.push_back(
        {"metacharacters " + std::string(m.sent) + " in " + field,
         {"GET", kept("rc=2&" + field + "=" + m.sent + "&WAN_STATICIP=Static+IP+Address"),
          own_page},
         wait_page,
         "old\n",
         line + "WAN_STATICIP=y\n"});
  }
  rows.push_back({"metacharacters as WAN_STATICIP",
                  {"GET", "rc=2&WAN_STATICIP=%24(reboot)%0A", own_page},
                  wait_page,
                  "",
                  "WAN_STATICIP=n\n"});
  rows.push_back({"metacharacters in a name",
                  {"GET", "rc=2&A;reboot=1&A%0AB=1&A$B=1&%60x%60=1&DNS1=1", own_page},
                  wait_page,
                  "",
                  "DNS1=\"1\"\n"});
}

// A small file system at the board's /tmp; false where this machine lets
// no test mount one.
bool mount_tmp() {
  return ::mount("nb-full", board("/tmp").c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                 "size=64k,mode=0755") == 0;
}

// Fills the board's /tmp to the last block.
void fill_tmp() {
  std::string cmd = "dd if=/dev/zero of='" + board("/tmp/fill") + "' bs=4k 2>/dev/null";
  (void)!std::system(cmd.c_str());
}

class Hostile : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    // The wait page's writer outlives /etc/Configure: reap it here.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
};

// Each row a test of its own, named by its description.
class HostileRow : public Hostile, public ::testing::WithParamInterface<row> {};

std::vector<row> every_row() {
  std::vector<row> rows = hostile_rows();
  add_built_rows(rows);
  return rows;
}

std::string name_of(const ::testing::TestParamInfo<row> &info) { return row_name(info.param.what); }

// How a failing row shows in GoogleTest's output: by its name.
void PrintTo(const row &r, std::ostream *os) { *os << row_name(r.what); }

TEST_P(HostileRow, GetsItsSoundAnswer) {
  const row &r = GetParam();
  reset_board();
  put("/sbin/ifconfig", "#!/bin/sh\necho eth0\n", 0755);
  put("/sbin/route",
      "#!/bin/sh\necho x >> " + board("/log/routed") + "\necho 'Kernel IP routing table'\n", 0755);
  ::mkdir(board("/log").c_str(), 0777);
  ::chmod(board("/log").c_str(), 0777);
  std::string configure = "#!/bin/sh\necho x >> " + board("/log/started") + "\n";
  if (r.fault == board_fault::noisy)
    configure += "i=0; while [ $i -lt 3000 ]; do printf '" + noise_line.substr(0, 15) +
                 "\\n'; i=$((i+1)); done\n";
  if (r.fault == board_fault::bad_interp)
    configure = "#!/nonexistent/sh\n";
  if (r.fault != board_fault::no_configure)
    put("/etc/Configure", configure, r.fault == board_fault::noexec ? 0644 : 0755);
  bool mounted = false;
  if (r.fault == board_fault::full_disk && !(mounted = mount_tmp()))
    GTEST_SKIP() << "this machine cannot mount a small file system";
  lay_settings(r.before);
  if (mounted)
    fill_tmp();
  if (r.fault == board_fault::unwritable)
    ::chmod(board("/tmp").c_str(), 0555);

  answer a = run(r.req);
  std::vector<int> left = orphans();
  ::chmod(board("/tmp").c_str(), 0755);
  if (r.out != "<any>") {
    EXPECT_EQ(without_noise(a.out), r.out) << r.what;
  }
  EXPECT_EQ(a.status, r.status) << r.what;
  for (int s : left)
    EXPECT_EQ(s, r.status) << r.what << ": a process it left (-1: hung)";
  EXPECT_EQ(describe(), r.after == "<same>" ? r.before : r.after) << r.what;
  EXPECT_EQ(leftovers(), 0) << r.what << ": a temporary file was left in /tmp";
  if (r.started >= 0) {
    EXPECT_EQ(get("/log/started"), r.started > 0 ? std::string("x\n") : "<missing>") << r.what;
  }
  if (r.routed >= 0) {
    std::string log = get("/log/routed");
    auto runs = log == "<missing>" ? 0 : std::count(log.begin(), log.end(), '\n');
    // With glibc the first page is written before the output fails; musl
    // writes its first line at once and so runs no command at all.
    EXPECT_LE(runs, r.routed) << r.what;
  }
  if (r.fault == board_fault::noisy) {
    EXPECT_EQ(a.out.size(), r.out.size() + 3000 * noise_line.size()) << r.what;
  }
  if (mounted)
    ::umount2(board("/tmp").c_str(), MNT_DETACH);
}

INSTANTIATE_TEST_SUITE_P(Row, HostileRow, ::testing::ValuesIn(every_row()), name_of);

// The saved file sourced by a shell, as /etc/Configure may: nothing runs.
TEST_F(Hostile, SavedSettingsRunNothingWhenSourced) {
  reset_board();
  std::string marker = board("/log/ran");
  ::mkdir(board("/log").c_str(), 0777);
  std::string q = "rc=2&WAN_IPADDR=%3Btouch+" + marker + "&WAN_NETMASK=%24(touch+" + marker +
                  ")&WAN_ROUTE=%60touch+" + marker + "%60&DNS1=%27%3Btouch+" + marker +
                  "%3B%27&DNS2=a%22%3Btouch+" + marker + "%3B%22&WAN_NETWORK=x%0Atouch+" + marker;
  run({"GET", q.c_str(), own_page});
  orphans();
  std::string cmd = "cd / && . '" + board("/tmp/config.out") + "' && [ \"$WAN_IPADDR\" = ';touch " +
                    marker + "' ]" + " && [ \"$DNS1\" = \"';touch " + marker + ";'\" ]";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << get("/tmp/config.out");
  EXPECT_EQ(get("/log/ran"), "<missing>") << get("/tmp/config.out");
}

// Sizes no web server can pass through the environment, in the parser.
TEST(HostileParser, HugeQueriesParseWhole) {
  std::string mib(1 << 20, 'v');
  ::setenv("QUERY_STRING", ("rc=1&x=" + mib).c_str(), 1);
  varlist v = getGETvars();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::string(v[2]), "x");
  EXPECT_EQ(std::string(v[3]), mib);
  EXPECT_EQ(v[4], nullptr);
  cleanUp(0, v, nullptr);
  ::setenv("QUERY_STRING", ("a" + std::string(1 << 20, '&') + "b").c_str(), 1);
  v = getGETvars();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::string(v[0]) + v[2], "ab");
  EXPECT_EQ(v[4], nullptr);
  cleanUp(0, v, nullptr);
  ::unsetenv("QUERY_STRING");
}

} // namespace
