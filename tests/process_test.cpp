// The whole program, run as the web server runs it: environment in,
// standard output and exit status out, against a test board folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include "harness.hpp"
#include "listing_model.hpp"

namespace {

const std::string hardware = golden("hardware");

std::string listing(const std::string &text) { return golden("listing", {{"LISTING", text}}); }

struct form_values {
  bool is_static = true;
  std::string ip = default_of(E_WAN_IPADDR);
  std::string mask = default_of(E_WAN_NETMASK);
  std::string route = default_of(E_WAN_ROUTE);
  std::string dns1 = default_of(E_DNS1);
  std::string dns2 = default_of(E_DNS2);
};

std::string form(const form_values &v = {}) {
  std::string s = "<OPTION> Static IP Address", d = "<OPTION> Dynamic IP Address";
  return form_page({{"OPTIONS", v.is_static ? s + d : d + s},
                    {"WAN_IPADDR", v.ip},
                    {"WAN_NETMASK", v.mask},
                    {"WAN_ROUTE", v.route},
                    {"DNS1", v.dns1},
                    {"DNS2", v.dns2}});
}

const std::string wait_page = wait_answer();

class Program : public ::testing::Test {
protected:
  void SetUp() override {
    reset_board();
    put("/proc/cpuinfo", "processor\t: 0\nmodel name\t: XScale-IXP425\n");
    put("/proc/meminfo", "MemTotal:  30000 kB\n");
    put("/sbin/ifconfig", "#!/bin/sh\necho 'eth0 Link encap:Ethernet'\n", 0755);
    put("/sbin/route", "#!/bin/sh\necho 'Kernel IP routing table'\n", 0755);
  }
};

// Requests answered from the request alone.
struct page_case {
  const char *what;
  request req;
  std::string out;
  int status = 0;
};

std::vector<page_case> page_cases() {
  const std::string cpu = listing("        processor\t: 0\n        model name\t: XScale-IXP425\n");
  const std::vector<page_case> cases = {
      {"rc=1 alone is the empty shell", {"GET", "rc=1"}, shell("")},
      {"home page", {"GET", "rc=1&index_link=Hardware"}, shell(hardware)},
      {"two pages in one document",
       {"GET", "rc=1&index_link=Hardware&index_link=Route+Table"},
       shell(hardware + listing("        Kernel IP routing table\n"))},
      {"CPU page", {"GET", "rc=1&index_link=CPU_Info"}, shell(cpu)},
      {"MEM page",
       {"GET", "rc=1&index_link=MEM+Info"},
       shell(listing("        MemTotal:  30000 kB\n"))},
      {"missing PCI file writes nothing, the next page still comes",
       {"GET", "rc=1&index_link=PCI+Info&index_link=Hardware"},
       shell(hardware)},
      {"unknown variable", {"GET", "rc=1&foo=bar"}, shell("<li>DEBUG: [foo] = [bar]\n")},
      {"page names are exact",
       {"GET", "rc=1&index_link=Route+Tablf&index_link=hardware&index_link=CPU+Info"},
       shell("<li>DEBUG: [index_link] = [Route Tablf]\n<li>DEBUG: [index_link] = [hardware]\n"
             "<li>DEBUG: [index_link] = [CPU Info]\n")},
      {"debug lines are escaped",
       {"GET", "rc=1&%3Cscript%3E=%22a%27%26b%3E"},
       shell("<li>DEBUG: [&lt;script&gt;] = [&quot;a&#39;&amp;b&gt;]\n")},
      {"rc must come first",
       {"GET", "index_link=Hardware&rc=1"},
       shell("<li>RC DEBUG: [index_link] = [Hardware]\n")},
      {"rc=01", {"GET", "rc=01&index_link=Hardware"}, shell(hardware)},
      {"rc=%201", {"GET", "rc=%201&index_link=Hardware"}, shell(hardware)},
      {"rc=1abc", {"GET", "rc=1abc&index_link=Hardware"}, shell(hardware)},
      {"rc=3", {"GET", "rc=3"}, shell("<li>RC DEBUG: [rc] = [3]\n")},
      {"RC=1", {"GET", "RC=1"}, shell("<li>RC DEBUG: [RC] = [1]\n")},
      {"rc with no digits", {"GET", "rc=x"}, shell("<li>RC DEBUG: [rc] = [x]\n")},
      {"rc beyond int does not wrap",
       {"GET", "rc=4294967297"},
       shell("<li>RC DEBUG: [rc] = [4294967297]\n")},
      {"rc beyond int does not wrap to 2",
       {"GET", "rc=4294967298&FOO=bar"},
       shell("<li>RC DEBUG: [rc] = [4294967298]\n")},
      {"escaped action debug line", {"GET", "rc=%3C1"}, shell("<li>RC DEBUG: [rc] = [&lt;1]\n")},
      {"HEAD is the header alone", {"HEAD", "rc=1&index_link=Hardware"}, golden("header")},
      {"bare address, no query", {"GET", nullptr}, shell(hardware)},
      {"bare address, empty query", {"GET", ""}, shell(hardware)},
      {"bare address, only &", {"GET", "&&"}, shell(hardware)},
      {"arguments are ignored",
       {"GET", "rc=3", {}, "", {"rc=1", "x"}},
       shell("<li>RC DEBUG: [rc] = [3]\n")},
      {"unknown method", {"PUT", "rc=1&index_link=Hardware"}, ""},
      {"lower-case get", {"get", "rc=1"}, ""},
      {"no method", {nullptr, "rc=1&index_link=Hardware"}, ""},
  };
  return cases;
}

// Each case a test of its own, named by its description.
class ProgramPage : public Program, public ::testing::WithParamInterface<page_case> {};

std::string name_of(const ::testing::TestParamInfo<page_case> &info) {
  return row_name(info.param.what);
}

void PrintTo(const page_case &c, std::ostream *os) { *os << row_name(c.what); }

TEST_P(ProgramPage, AnswersExactly) {
  answer a = run(GetParam().req);
  EXPECT_EQ(a.out, GetParam().out);
  EXPECT_EQ(a.status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Row, ProgramPage, ::testing::ValuesIn(page_cases()), name_of);

// A POST body is read by its CONTENT_LENGTH and never answered; a length
// that is no number from 1 to 65536, or a shorter body, ends the request
// with status 1.
TEST_F(Program, ReadsAPostBodyByItsLength) {
  struct row {
    const char *length; // CONTENT_LENGTH, unset when null
    std::string body;
    int status;
  };
  const std::vector<row> rows = {
      {"5", "a=1&b", 0},
      {" 3xyz", "a=1", 0},                         // leading space and trailing text
      {"1e3", "a", 0},                             // no exponent: it reads 1
      {"+3", "a=1", 0},                            // a plus sign
      {"3", "a=1&b=" + std::string(1000, 'x'), 0}, // the rest is not read
      {"65536", std::string(65536, 'a'), 0},
      {nullptr, "a=1", 1},
      {"", "a=1", 1},
      {"0", "", 1},
      {"-0", "a=1", 1},
      {"-1", "a=1", 1},
      {"abc", "a=1", 1},
      {"0x10", "a=1", 1}, // hex reads 0
      {"65537", std::string(65537, 'a'), 1},
      {"4294967299", "abc", 1},              // 3 in 32 bits
      {"18446744073709551615", "a=1", 1},    // -1 in 64 bits
      {"99999999999999999999999", "a=1", 1}, // past 64 bits
      {"10", "a=1", 1},                      // a shorter body
  };
  for (const row &r : rows) {
    request req = {"POST", "rc=1&index_link=Hardware"};
    if (r.length != nullptr)
      req.env.push_back(std::string("CONTENT_LENGTH=") + r.length);
    req.body = r.body;
    answer a = run(req);
    std::string what = r.length != nullptr ? r.length : "(unset)";
    EXPECT_EQ(a.out, "") << what;
    EXPECT_EQ(a.status, r.status) << what;
  }
}

// Listing pages: files cut into 79-byte chunks, each indented and escaped.
TEST_F(Program, ListsFilesInChunks) {
  const std::string l100(100, 'x'), l79(79, 'y');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\nb\nc\n", "        a\n        b\n        c\n"},
      {"a\nb", "        a\n        b"},
      {"", ""},
      {l100 + "\n", "        " + l100.substr(0, 79) + "        " + l100.substr(79) + "\n"},
      {l79 + "\n", "        " + l79 + "        \n"},
      {"<b>&amp;\n", "        &lt;b&gt;&amp;amp;\n"},
      // The cut falls at byte 79 of the raw text, before escaping.
      {std::string(78, 'z') + "<<\n", "        " + std::string(78, 'z') + "&lt;        &lt;\n"},
  };
  for (const auto &[file, text] : cases) {
    put("/proc/cpuinfo", file);
    EXPECT_EQ(run({"GET", "rc=1&index_link=CPU_Info"}).out, shell(listing(text))) << file;
  }
}

// Files of many sizes around the C library's 4 KiB reads, with lines long
// and short, and bytes to escape or a NUL where a read ends.
TEST_F(Program, ListsLargeFilesInTheSameChunks) {
  std::string lines;
  for (int i = 0; lines.size() < 70000; ++i)
    lines +=
        std::string(static_cast<std::size_t>(i * 37 % 200), static_cast<char>('a' + i % 26)) + "\n";
  // Each byte value but NUL, at many places within a block.
  std::string every;
  for (int round = 0; round < 40; ++round)
    for (int c = 1; c < 256; ++c)
      every += static_cast<char>(c);
  const std::vector<std::pair<const char *, std::string>> cases = {
      {"short and long lines", lines},
      {"no line feed at all", std::string(9000, 'x')},
      {"a block of 4096 then a line", std::string(4095, 'y') + "\nz\n"},
      {"escapes across a block end",
       std::string(4090, 'e') + "<&>\"'<&>\"'\n" + std::string(100, '&')},
      {"a NUL in a block's last chunk",
       std::string(4094, 'n') + std::string(1, '\0') + "after\nnext\n"},
      {"a NUL at the start", std::string(1, '\0') + "hidden\nshown\n"},
      {"a line feed at byte 79 and 80",
       std::string(79, 'f') + "\n" + std::string(78, 'g') + "\n\n"},
      {"no line feed at the end", lines.substr(0, 5000)},
      {"every byte value", every},
  };
  for (const auto &[what, file] : cases) {
    put("/proc/cpuinfo", file);
    EXPECT_EQ(run({"GET", "rc=1&index_link=CPU_Info"}).out, shell(listing(chunked(file)))) << what;
  }
}

// Command pages, with stand-ins for the board's tools.
TEST_F(Program, ListsCommandOutput) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"#!/bin/sh\nprintf 'lo  <UP>\\n  RX & TX\\n'\n",
       shell(listing("        lo  &lt;UP&gt;\n          RX &amp; TX\n"))},
      {"#!/bin/sh\n", shell(listing(""))},
      {"#!/bin/sh\necho partial\necho oops >&2\nexit 3\n", shell(listing("        partial\n"))},
      // Output that comes in pieces is cut as if it had come at once.
      {"#!/bin/sh\nprintf 'ab'; sleep 0.1; printf 'cd\\n'; sleep 0.1; printf '%0100d\\n' 0\n",
       shell(listing("        abcd\n        " + std::string(79, '0') + "        " +
                     std::string(21, '0') + "\n"))},
      // Started directly, as a shell would start it: its own path as $0,
      // the request's environment, and SIGPIPE not ignored.
      {"#!/bin/sh\n"
       "echo \"$0 $QUERY_STRING\"\n"
       "m=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status)\n"
       "echo \"pipe $(( 0x$m >> 12 & 1 ))\"\n",
       shell(listing(
           chunked(board("/sbin/ifconfig") + " rc=1&index_link=Net+Statistics\npipe 0\n")))},
  };
  for (const auto &[script, out] : cases) {
    put("/sbin/ifconfig", script, 0755);
    EXPECT_EQ(run({"GET", "rc=1&index_link=Net+Statistics"}).out, out) << script;
  }
  ::unlink(board("/sbin/route").c_str());
  EXPECT_EQ(run({"GET", "rc=1&index_link=Route+Table"}).out, shell(listing("")))
      << "missing command";
  // No PATH at all (lighttpd passes none) changes nothing.
  put("/sbin/ifconfig", cases[0].first, 0755);
  EXPECT_EQ(run({"GET", "rc=1&index_link=Net+Statistics"}).out, cases[0].second);
  EXPECT_EQ(get("/tmp/data.rc"), "<missing>") << "no scratch file is left in /tmp";
}

// The same answers with no PATH (lighttpd gives none) and with the whole
// environment a web server passes on from its own.
TEST_F(Program, AnswersAlikeWhateverTheServersEnvironment) {
  const std::vector<std::string> server = {"PATH=/usr/local/bin:/usr/bin:/bin",
                                           "HOME=/root",
                                           "SHELL=/bin/sh",
                                           "IFS=:",
                                           "ENV=/nonexistent",
                                           "LANG=tr_TR.UTF-8",
                                           "LC_ALL=tr_TR.UTF-8",
                                           "TZ=UTC",
                                           "GATEWAY_INTERFACE=CGI/1.1",
                                           "SERVER_SOFTWARE=busybox httpd/1.35.0",
                                           "SERVER_PROTOCOL=HTTP/1.1",
                                           "REMOTE_ADDR=127.0.0.1",
                                           "HTTP_HOST=127.0.0.1:8080",
                                           "HTTP_USER_AGENT=Mozilla/5.0",
                                           "SCRIPT_NAME=/cgi-bin/northbeam",
                                           own_page[1]};
  const char *const queries[] = {
      "rc=1&index_link=Hardware&index_link=Net+Statistics&index_link=CPU_Info",
      "rc=1&index_link=Wan+Lan+Setting&index_link=Route+Table", "rc=3&x=1"};
  for (const char *q : queries) {
    std::string bare = run({"GET", q}).out;
    EXPECT_NE(bare.find("</BODY></HTML>"), std::string::npos) << q;
    EXPECT_EQ(run({"GET", q, server}).out, bare) << q;
  }
  // /etc/Configure gets none of the server's environment.
  put("/etc/Configure",
      "#!/bin/sh\ntr '\\0' ' ' < /proc/$$/environ > '" + board("/tmp/env") + "'\n", 0755);
  EXPECT_EQ(run({"GET", "rc=2&DNS1=9.9.9.9", server}).out, wait_page);
  EXPECT_EQ(get("/tmp/config.out"), "DNS1=\"9.9.9.9\"\n");
  EXPECT_EQ(get("/tmp/env"), "");
}

// A request naming many pages shows the first seven, and every other pair
// still gets its debug line: no request starts more than seven commands.
TEST_F(Program, ShowsAtMostSevenPagesARequest) {
  put("/sbin/route", "#!/bin/sh\necho x >> '" + board("/tmp/routed") + "'\necho ROUTE\n", 0755);
  std::string query = "rc=1";
  for (int i = 0; i < 20; ++i)
    query += "&index_link=Route+Table";
  query += "&a=b";
  std::string pages;
  for (int i = 0; i < 7; ++i)
    pages += listing("        ROUTE\n");
  EXPECT_EQ(run({"GET", query.c_str()}).out, shell(pages + "<li>DEBUG: [a] = [b]\n"));
  EXPECT_EQ(get("/tmp/routed"), "x\nx\nx\nx\nx\nx\nx\n");
}

// The settings form over each settings file.
TEST_F(Program, FormShowsTheSettingsFile) {
  form_values dynamic;
  dynamic.is_static = false;
  form_values saved;
  saved.ip = "192.168.1.5";
  saved.dns2 = "10.0.0.9";
  form_values escaped;
  escaped.ip = "&lt;b&gt;&#39;x&amp;";
  form_values long_line_default; // a long line never splits into lines
  const std::vector<std::tuple<const char *, std::string, form_values>> cases = {
      {"no file", "<missing>", {}},
      {"dynamic", "WAN_STATICIP=n\n", dynamic},
      {"upper-case Y is not static", "WAN_STATICIP=Y\n", dynamic},
      {"empty value is not static", "WAN_STATICIP=\n", dynamic},
      {"last line without line feed keeps its value", "WAN_STATICIP=y", {}},
      {"WAN_NETWORK is not shown", "WAN_NETWORK=\"1.2.3.0\"\n", {}},
      {"quotes dropped, unknown names ignored",
       "WAN_IPADDR=\"192.168.1.5\"\nFOO=\"bar\"\nDNS2=\"10.0.0.9\"", saved},
      {"values are escaped", "WAN_IPADDR=\"<b>'x&\"\n", escaped},
      {"a long line is one line", "X=" + std::string(100, 'a') + "WAN_IPADDR=9.9.9.9\n",
       long_line_default},
      {"a value over 31 characters is ignored", "WAN_IPADDR=" + std::string(32, '1') + "\n", {}},
      {"a line without = is ignored", "WAN_IPADDR\n", {}},
  };
  for (const auto &[what, file, values] : cases) {
    reset_board();
    if (file != "<missing>")
      put("/tmp/config.out", file);
    EXPECT_EQ(run({"GET", "rc=1&index_link=Wan+Lan+Setting"}).out, shell(form(values))) << what;
  }
}

TEST_F(Program, FormTreatsOddSettingsPathsAsMissing) {
  // Only root and the program's own user write the settings: a file of
  // another local user was planted, and shows the defaults. (Run as
  // another user than root, the test can give the file no other owner: it
  // then shows that a file of the program's own user is read.)
  const std::string planted = "WAN_IPADDR=\"6.6.6.6\"\n";
  put("/tmp/config.out", planted);
  bool foreign =
      ::chown(board("/tmp/config.out").c_str(), 65534, 65534) == 0 && ::geteuid() != 65534;
  if (::geteuid() == 0) {
    ASSERT_TRUE(foreign) << "root cannot give the file to nobody";
  }
  form_values own;
  own.ip = "6.6.6.6";
  EXPECT_EQ(run({"GET", "rc=1&index_link=Wan+Lan+Setting"}).out,
            shell(form(foreign ? form_values{} : own)))
      << "a file owned by " << (foreign ? "another user" : "the program's own user");

  const std::string path = board("/tmp/config.out");
  put("/elsewhere", "WAN_IPADDR=\"6.6.6.6\"\n");
  using setup = void (*)(const std::string &);
  const std::vector<std::pair<const char *, setup>> cases = {
      {"FIFO", [](const std::string &p) { ::mkfifo(p.c_str(), 0666); }},
      {"directory", [](const std::string &p) { ::mkdir(p.c_str(), 0755); }},
      {"link",
       [](const std::string &p) { (void)!::symlink(board("/elsewhere").c_str(), p.c_str()); }},
      {"dangling link",
       [](const std::string &p) { (void)!::symlink(board("/nowhere").c_str(), p.c_str()); }},
  };
  for (const auto &[what, make] : cases) {
    ::unlink(path.c_str());
    ::rmdir(path.c_str());
    make(path);
    EXPECT_EQ(run({"GET", "rc=1&index_link=Wan+Lan+Setting"}).out, shell(form())) << what;
  }
}

// Saves: the settings file each leaves behind.
TEST_F(Program, SaveWritesOnlySafeWholeLines) {
  // Sixty settings lines, more than the text holds: the names of the
  // settings table in turn.
  const char *const names[] = {"WAN_IPADDR", "WAN_NETMASK", "WAN_NETWORK",
                               "WAN_ROUTE",  "DNS1",        "DNS2"};
  std::string sixty, kept;
  for (int i = 0; i < 60; ++i) {
    std::string name = names[i % 6], value(30, static_cast<char>('a' + i % 26));
    sixty += "&" + name + "=" + value;
    std::string line = name + "=\"" + value + "\"\n";
    if (kept.size() + line.size() <= 2047)
      kept += line;
  }
  const std::vector<std::tuple<std::string, std::string>> cases = {
      {"rc=2&WAN_STATICIP=Dynamic+IP+Address", "WAN_STATICIP=n\n"},
      {"rc=2&WAN_IPADDR=1.2.3.4&WAN_STATICIP=Static+IP+Address",
       "WAN_IPADDR=\"1.2.3.4\"\nWAN_STATICIP=y\n"},
      {"rc=2&WAN_STATICIP=static+ip+address", "WAN_STATICIP=n\n"},
      {"rc=2&WAN_STATICIP=Static+IP+Address&WAN_IPADDR=10.1.10.227&WAN_NETMASK=255.255.255.0"
       "&WAN_ROUTE=10.1.0.1&DNS1=10.0.0.2&DNS2=10.0.0.5",
       "WAN_STATICIP=y\n"
       "WAN_IPADDR=\"10.1.10.227\"\n"
       "WAN_NETMASK=\"255.255.255.0\"\n"
       "WAN_ROUTE=\"10.1.0.1\"\n"
       "DNS1=\"10.0.0.2\"\n"
       "DNS2=\"10.0.0.5\"\n"},
      {"rc=2&DNS1=1.1.1.1%0AWAN_IPADDR=6.6.6.6&DNS2=2.2.2.2", "DNS2=\"2.2.2.2\"\n"},
      {"rc=2&DNS1=%24(reboot)&DNS2=%60reboot%60&WAN_ROUTE=a%22b&WAN_NETMASK=a%5Cb"
       "&WAN_IPADDR=1.2.3.4",
       "WAN_IPADDR=\"1.2.3.4\"\n"},
      {"rc=2&DNS1=a%0Db&DNS2=a%7Fb&A+B=1&1A=1&A-B=1&=1&WAN_ROUTE=it's+fine",
       "WAN_ROUTE=\"it's fine\"\n"},
      // Only the settings table's names are stored.
      {"rc=2&PERL5OPT=-Mx&WAN=1&DNS1=1.1.1.1&RESOLV=x&LOG=y&FOO=bar&dns2=2&DNS2%20=3",
       "DNS1=\"1.1.1.1\"\n"},
      {"rc=2" + sixty, kept},
      {"rc=2&DNS1=" + std::string(2050, 'v') + "&DNS2=1", "DNS2=\"1\"\n"},
  };
  for (const auto &[query, file] : cases) {
    reset_board();
    EXPECT_EQ(run({"GET", query.c_str(), own_page}).out, wait_page) << query;
    EXPECT_EQ(get("/tmp/config.out"), file) << query;
  }
  // Nothing stored: the old file stays as it was. Pairs that were all left
  // out show the form as the file reads; rc=2 alone applies it again.
  form_values old;
  old.dns1 = "old";
  const std::vector<std::pair<const char *, std::string>> unstored = {
      {"rc=2", wait_page},
      {"rc=2&DNS1=%22", shell(form(old))},
      {"rc=2&9=1", shell(form(old))},
      {"rc=2&FOO=bar", shell(form(old))},
      {"rc=2&PERL5OPT=-Mx&WAN=1&RESOLV=x&LOG=y", shell(form(old))},
  };
  for (const auto &[query, out] : unstored) {
    put("/tmp/config.out", "DNS1=\"old\"\n");
    EXPECT_EQ(run({"GET", query, own_page}).out, out) << query;
    EXPECT_EQ(get("/tmp/config.out"), "DNS1=\"old\"\n") << query;
  }
}

// The stand-in records how it was started and what file it found.
const char *const configure_standin = "#!/bin/sh\n"
                                      "{\n"
                                      "  echo \"argc=$#\"\n"
                                      "  echo \"argv0=$0\"\n"
                                      "  echo \"env=$(tr '\\0' ' ' < /proc/$$/environ)\"\n"
                                      "} >> \"%ROOT%/tmp/started\"\n"
                                      "cat \"%ROOT%/tmp/config.out\" > \"%ROOT%/tmp/seen\"\n";

std::string standin() {
  std::string s = configure_standin;
  for (std::size_t i; (i = s.find("%ROOT%")) != std::string::npos;)
    s.replace(i, 6, board(""));
  return s;
}

TEST_F(Program, SaveStartsConfigureOnceWithNothingButItsName) {
  put("/etc/Configure", standin(), 0755);
  answer a = run({"GET",
                  "rc=2&WAN_STATICIP=Dynamic+IP+Address&DNS1=9.9.9.9",
                  {own_page[0], own_page[1], own_page[2], "PATH=/bin", "SECRET=x"}});
  EXPECT_EQ(a.out, wait_page);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(get("/tmp/started"), "argc=0\nargv0=" + board("/etc/Configure") + "\nenv=\n");
  EXPECT_EQ(get("/tmp/seen"), "WAN_STATICIP=n\nDNS1=\"9.9.9.9\"\n")
      << "started after the file was complete";
  EXPECT_EQ(run({"GET", "rc=1&index_link=Wan+Lan+Setting"}).out, shell(form([] {
              form_values v;
              v.is_static = false;
              v.dns1 = "9.9.9.9";
              return v;
            }())));
}

// Runs r with the program's standard error, which the web server puts in
// its error log, going to a file: the answer, and what was logged.
std::pair<answer, std::string> run_logged(const request &r) {
  std::FILE *log = std::tmpfile();
  int kept = ::dup(2);
  ::dup2(::fileno(log), 2);
  answer a = run(r);
  ::dup2(kept, 2);
  ::close(kept);
  std::string text;
  std::rewind(log);
  for (int c; (c = std::fgetc(log)) != EOF;)
    text += static_cast<char>(c);
  std::fclose(log);
  return {a, text};
}

// The browser still sees the wait page; the error log says what went wrong.
TEST_F(Program, SaveWithoutConfigureStillAnswers) {
  const std::string cannot = "northbeam: cannot start " + board("/etc/Configure") + ": ";
  auto [a, logged] = run_logged({"GET", "rc=2&DNS1=9.9.9.9", own_page});
  EXPECT_EQ(a.out, wait_page);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(logged, cannot + "No such file or directory\n");
  put("/etc/Configure", "not a program", 0644);
  std::tie(a, logged) = run_logged({"GET", "rc=2&DNS1=9.9.9.9", own_page});
  EXPECT_EQ(a.out, wait_page);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(logged, cannot + "Permission denied\n");
}

// A refused save answers the home page, stores and starts nothing, and
// tells the error log why in one line.
TEST_F(Program, RefusedSaveSaysWhyInTheErrorLog) {
  put("/etc/Configure", "#!/bin/sh\necho x >> '" + board("/tmp/started") + "'\n", 0755);
  const std::string no_proof =
      "northbeam: save refused: no proof that it comes from the board's own page\n";
  const std::vector<std::tuple<const char *, std::vector<std::string>, std::string>> cases = {
      {"a foreign Host",
       {"HTTP_HOST=router.lan", own_page[1], own_page[2]},
       "northbeam: save refused: Host \"router.lan\" is not one of the board's names\n"},
      {"a Host that forges a log line",
       {"HTTP_HOST=x\nnorthbeam: saved", own_page[1], own_page[2]},
       "northbeam: save refused: Host \"x\\x0Anorthbeam: saved\" is not one of the board's "
       "names\n"},
      {"no sign of the page", {own_page[0], own_page[2]}, no_proof},
      {"a Referer of another page on the board",
       {own_page[0], "HTTP_REFERER=http://127.0.0.1:8080/", own_page[2]},
       no_proof},
      {"no SCRIPT_NAME", {own_page[0], own_page[1]}, no_proof},
  };
  for (const auto &[what, env, line] : cases) {
    auto [a, logged] = run_logged({"GET", "rc=2&DNS1=6.6.6.6", env});
    EXPECT_EQ(a.out, shell(hardware)) << what;
    EXPECT_EQ(logged, line) << what;
    EXPECT_EQ(get("/tmp/config.out"), "<missing>") << what;
    EXPECT_EQ(get("/tmp/started"), "<missing>") << what;
  }
}

TEST_F(Program, SaveNeverWritesThroughAPlantedLink) {
  put("/victim", "precious\n");
  ASSERT_EQ(::symlink(board("/victim").c_str(), board("/tmp/config.out").c_str()), 0);
  (void)!::lchown(board("/tmp/config.out").c_str(), 65534, 65534); // owned by "nobody"
  run({"GET", "rc=2&DNS1=6.6.6.6", own_page});
  EXPECT_EQ(get("/victim"), "precious\n");
  struct stat st;
  ASSERT_EQ(::lstat(board("/tmp/config.out").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(get("/tmp/config.out"), "DNS1=\"6.6.6.6\"\n");
}

} // namespace
