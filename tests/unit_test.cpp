// The parser, selectors, escaping and settings functions, case by case.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "cgivars.hpp"
#include "funlib.hpp"
#include "harness.hpp"
#include "htmllib.hpp"

namespace {

using pairs = std::vector<std::pair<std::string, std::string>>;

pairs to_pairs(varlist v) {
  pairs p;
  for (char **s = v; *s != nullptr; s += 2)
    p.emplace_back(s[0], s[1]);
  cleanUp(0, v, nullptr);
  return p;
}

// What fn writes to standard output, read back through a pipe.
template <class F> std::string captured(F fn) {
  std::fflush(stdout);
  int fds[2];
  EXPECT_EQ(::pipe(fds), 0);
  int saved = ::dup(1);
  ::dup2(fds[1], 1);
  ::close(fds[1]);
  fn();
  std::fflush(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  return out;
}

TEST(Decoder, UnescapesEveryKindOfEscape) {
  const std::vector<std::pair<std::string, std::string>> cases =
      {
          {"", ""},          {"plain", "plain"}, {"100%25", "100%"},
          {"a%2Bb", "a+b"},  {"%41%42", "AB"},   {"%4a%4A", "JJ"},
          {"ab%00cd", "ab"}, {"%G0x", ""}, // G reads as digit 16: byte 0 ends the string
          {"%FF", "\xFF"},   {"%ff", "\xFF"},    {"%7e", "~"},
          {"%%41", "T1"},   // digits are not checked: (-11 * 16 + 4) & 0xFF
          {"%zz", "S"},     // (35 * 16 + 35) & 0xFF
          {"ab%4", "ab%4"}, // a cut-off escape stays as it is
          {"ab%", "ab%"},    {"%", "%"},         {"%4", "%4"},
          {"x%41%", "xA%"},  {"%41%4", "A%4"},   {"%2541", "%41"}, // decoded once only
      };
  for (const auto &[in, out] : cases) {
    std::vector<char> buf(in.begin(), in.end());
    buf.push_back('\0');
    unescape_url(buf.data());
    EXPECT_EQ(std::string(buf.data()), out) << in;
  }
}

TEST(Decoder, Hex2CharMapsDigitsAndLetters) {
  const std::vector<std::pair<const char *, unsigned>> cases = {
      {"00", 0x00}, {"41", 0x41}, {"4a", 0x4A}, {"4A", 0x4A},       {"fF", 0xFF},
      {"G0", 0x00}, {"g1", 0x01}, {"0g", 0x10}, {"\xC1\x30", 0xA0}, {" 1", 0x01},
  };
  for (const auto &[hex, byte] : cases)
    EXPECT_EQ(static_cast<unsigned char>(hex2char(hex)), byte) << hex;
}

TEST(Parser, SplitsAndDecodesPairs) {
  const std::vector<std::pair<const char *, pairs>> cases = {
      {"", {}},
      {"&&&", {}},
      {"a=1&&b=2&", {{"a", "1"}, {"b", "2"}}},
      {"flag", {{"flag", ""}}},
      {"=x", {{"", "x"}}},
      {"=", {{"", ""}}},
      {"a=b=c", {{"a", "b=c"}}},
      {"a%3D1=2", {{"a=1", "2"}}},
      {"index_link=MEM+Info", {{"index_link", "MEM Info"}}},
      {"x=%2B+", {{"x", "+ "}}},
      {"WAN%5FIPADDR=1", {{"WAN_IPADDR", "1"}}},
      {"a=1&a=2", {{"a", "1"}, {"a", "2"}}},
      {"x=%41%42&y=ab%00cd", {{"x", "AB"}, {"y", "ab"}}},
      {"%26=%3D", {{"&", "="}}},
  };
  for (const auto &[in, want] : cases) {
    std::string copy = in;
    EXPECT_EQ(to_pairs(parse_vars(copy.data())), want) << in;
  }
}

TEST(Parser, ReadsQueryStringFromTheEnvironment) {
  ::unsetenv("QUERY_STRING");
  EXPECT_EQ(to_pairs(getGETvars()), pairs{});
  ::setenv("QUERY_STRING", "rc=1&index_link=CPU_Info", 1);
  EXPECT_EQ(to_pairs(getGETvars()), (pairs{{"rc", "1"}, {"index_link", "CPU_Info"}}));
  EXPECT_STREQ(std::getenv("QUERY_STRING"), "rc=1&index_link=CPU_Info")
      << "the environment is never changed";
  std::string many;
  for (int i = 0; i < 100000; ++i)
    many += "&k=v";
  ::setenv("QUERY_STRING", many.c_str(), 1);
  EXPECT_EQ(to_pairs(getGETvars()).size(), 100000u);
  ::unsetenv("QUERY_STRING");
}

TEST(Parser, ClassifiesMethods) {
  const std::vector<std::pair<const char *, int>> cases = {
      {"GET", 0},  {"HEAD", 0}, {"POST", 1},  {"get", -1},
      {"PUT", -1}, {"", -1},    {"GET ", -1}, {nullptr, -1},
  };
  for (const auto &[m, code] : cases) {
    if (m != nullptr)
      ::setenv("REQUEST_METHOD", m, 1);
    else
      ::unsetenv("REQUEST_METHOD");
    EXPECT_EQ(getRequestMethod(), code) << (m != nullptr ? m : "(unset)");
  }
  ::unsetenv("REQUEST_METHOD");
}

TEST(Selectors, ReadActionCodesAndPageNames) {
  const std::vector<std::tuple<const char *, const char *, int>> rc = {
      {"rc", "1", 1},
      {"rc", "01", 1},
      {"rc", " 1", 1},
      {"rc", "\t+2", 2},
      {"rc", "1abc", 1},
      {"rc", "-1", -1},
      {"rc", "", 0},
      {"rc", "abc", 0},
      {"rc", "+", 0},
      {"RC", "1", -1},
      {"rcx", "1", -1},
      {"", "1", -1},
      {"rc", "2147483647", 2147483647},
      {"rc", "-2147483648", -2147483647 - 1},
      {"rc", "2147483648", 0},
      {"rc", "4294967297", 0},
      {"rc", "4294967298", 0},
      {"rc", "99999999999999999999999", 0},
      {"rc", "-4294967295", 0},
  };
  for (const auto &[name, value, want] : rc)
    EXPECT_EQ(get_rc(name, value), want) << name << "=" << value;

  for (int i = 0; i < INDEX_LINK_COUNT; ++i)
    EXPECT_EQ(
        index_link_parse(std::string(index_link_value_str[static_cast<std::size_t>(i)]).c_str()),
        i);
  for (const char *bad :
       {"hardware", "CPU Info", "Route Tablf", "Hardware ", "", "Wan+Lan+Setting"})
    EXPECT_EQ(index_link_parse(bad), -1) << bad;
  EXPECT_EQ(cgi_name_parse("index_link"), INDEX_LINK);
  for (const char *bad : {"Index_link", "index_link ", "", "rc"})
    EXPECT_NE(cgi_name_parse(bad), INDEX_LINK) << bad;
}

TEST(Escaping, ReplacesTheFiveMarkupCharacters) {
  const std::vector<std::pair<const char *, const char *>> cases = {
      {"", ""},
      {"plain text 100%", "plain text 100%"},
      {"<>&\"'", "&lt;&gt;&amp;&quot;&#39;"},
      {"a<b", "a&lt;b"},
      {"&amp;", "&amp;amp;"},
      {"\xC3\xA9\t\n", "\xC3\xA9\t\n"},
  };
  for (const auto &[in, out] : cases)
    EXPECT_EQ(captured([&] { html_escape(in); }), out) << in;
}

TEST(Settings, InsertsOnlyKnownNamesAndFittingValues) {
  const std::string v31(31, '7'), v32(32, '8');
  const std::vector<std::tuple<const char *, std::string, const char *>> cases = {
      {"DNS1", "1.1.1.1", "1.1.1.1"},  {"dns1", "2.2.2.2", "1.1.1.1"},
      {"DNS1 ", "3.3.3.3", "1.1.1.1"}, {"DNS1", v31, v31.c_str()},
      {"DNS1", v32, v31.c_str()},      {"DNS1", "", ""},
  };
  for (const auto &[name, value, want] : cases) {
    insert_netdata(name, value.c_str());
    EXPECT_STREQ(netconf[E_DNS1].value, want) << name << "=" << value;
  }
  insert_netdata("FOO", "x");
  EXPECT_STREQ(netconf[E_DNS2].value, "10.0.0.5");
  insert_netdata("DNS1", "10.0.0.2");
}

TEST(Settings, AppendsSafeWholeLines) {
  struct step {
    const char *name, *value;
    bool taken;
  };
  const std::vector<step> steps = {
      {"WAN_IPADDR", "1.2.3.4", true},
      {"WAN_STATICIP", "Static IP Address", true},
      {"WAN_STATICIP", "Static IP Address ", true},
      {"WAN_STATICIP", "a\"b\n", true},
      {"DNS1", "a\nb", false},
      {"DNS1", "a\"b", false},
      {"DNS1", "a\\b", false},
      {"DNS1", "$(x)", false},
      {"DNS1", "`x`", false},
      {"DNS1", "\x7F", false},
      {"DNS1", "\t", false},
      {"DNS2", "it's \xC3\xA9 ok", true},
      // Only the settings table's names: any other name, however plain,
      // may be one that a shell, a library or a client reads.
      {"FOO", "bar", false},
      {"PERL5OPT", "-Mx", false},
      {"WAN", "1", false},
      {"RESOLV", "1", false},
      {"LOG", "1", false},
      {"PATH", "/tmp", false},
      {"LD_PRELOAD", "/tmp/x.so", false},
      {"dns1", "1", false},
      {"DNS1 ", "1", false},
      {"DNS", "1", false},
      {"DNS12", "1", false},
      {"", "1", false},
      {"WAN_NETWORK", "1.2.3.0", true},
  };
  char netdata[NETDATA_SIZE] = "";
  for (const auto &s : steps)
    EXPECT_EQ(netdata_append(netdata, s.name, s.value), s.taken) << s.name << "=" << s.value;
  EXPECT_STREQ(netdata, "WAN_IPADDR=\"1.2.3.4\"\nWAN_STATICIP=y\nWAN_STATICIP=n\nWAN_STATICIP=n\n"
                        "DNS2=\"it's \xC3\xA9 ok\"\nWAN_NETWORK=\"1.2.3.0\"\n");

  // Fill to exactly 2046 characters: the last line that fits is taken,
  // the next is refused whole.
  char full[NETDATA_SIZE] = "";
  std::string value(2046 - std::strlen("DNS1=\"\"\n"), '1');
  EXPECT_TRUE(netdata_append(full, "DNS1", value.c_str()));
  EXPECT_EQ(std::strlen(full), 2046u);
  EXPECT_FALSE(netdata_append(full, "DNS2", ""));
  EXPECT_FALSE(netdata_append(full, "WAN_STATICIP", "x"));
  EXPECT_EQ(std::strlen(full), 2046u);
}

TEST(Settings, ReadsAndWritesTheFile) {
  reset_board();
  const std::vector<std::tuple<const char *, std::string, NETCONF_ENUM, const char *>> cases = {
      {"quotes anywhere are dropped", "DNS1=\"a\"b\"\n", E_DNS1, "ab"},
      {"no line feed at the end", "DNS2=\"10.0.0.5\"", E_DNS2, "10.0.0.5"},
      {"a carriage return is part of the value", "DNS2=x\r\n", E_DNS2, "x\r"},
      {"first = splits", "WAN_ROUTE=a=b\n", E_WAN_ROUTE, "a=b"},
      {"a NUL in the name", std::string("WAN_ROUTE\0x=z\n", 14), E_WAN_ROUTE, "10.1.0.1"},
      {"long name", std::string(200, 'D') + "=1\nDNS1=ok\n", E_DNS1, "ok"},
      {"the last line wins", "DNS1=1\nDNS1=2\n", E_DNS1, "2"},
  };
  for (const auto &[what, file, rec, want] : cases) {
    netconf[E_DNS1] = {"DNS1", "10.0.0.2"};
    netconf[E_DNS2] = {"DNS2", "10.0.0.5"};
    netconf[E_WAN_ROUTE] = {"WAN_ROUTE", "10.1.0.1"};
    put("/tmp/config.out", file);
    read_netdata();
    EXPECT_STREQ(netconf[rec].value, want) << what;
  }
  write_netdata("");
  EXPECT_EQ(get("/tmp/config.out"), "");
  write_netdata("A=\"1\"\n");
  EXPECT_EQ(get("/tmp/config.out"), "A=\"1\"\n");
  netconf[E_DNS1] = {"DNS1", "10.0.0.2"};
  netconf[E_DNS2] = {"DNS2", "10.0.0.5"};
}

// Where a save was sent from and to. The board here is 192.168.1.1 on
// port 8080, named "nb1".
struct save_row {
  const char *what;
  save_context c;
  bool taken;
  const char *script_name = "/cgi-bin/northbeam"; // SCRIPT_NAME, as every web server passes it
  std::string names_file = "<missing>";           // the board's names file, or "<missing>"
};

std::vector<save_row> save_rows() {
  const char *page = "http://192.168.1.1:8080/cgi-bin/northbeam?rc=1";
  // Lines of the names file past its 255 characters, with the board's
  // name where a line buffer's end could cut them: such a line names
  // nothing, at its start or its end.
  std::string long_lines;
  for (std::size_t n = 249; n < 1100; ++n)
    long_lines += std::string(n, 'x') + "nb.home\n" + "nb.home" + std::string(n, ' ') + "\n";
  const std::string longest = "nb.home" + std::string(248, ' ') + "\n";
  return {
      // The Host must be one of the board's own.
      {"no Host", {nullptr, "same-origin", nullptr, nullptr, nullptr, false, "nb1"}, false},
      {"a foreign Host with a matching Origin",
       {"evil.example", nullptr, "http://evil.example", nullptr, nullptr, false, "nb1"},
       false},
      {"an IPv4 Host",
       {"192.168.1.1:8080", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"an IPv4 Host with a leading zero",
       {"192.168.01.1", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"an IPv4 Host in short form",
       {"127.1", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"an IPv6 Host",
       {"[fe80::1]:8080", nullptr, "http://[FE80::1]:8080", nullptr, nullptr, false, "nb1"},
       true},
      {"an IPv6 Host without brackets",
       {"fe80::1", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a bracketed Host that is no address",
       {"[nb1]", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"localhost in capitals",
       {"LOCALHOST:8080", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"the board's own name",
       {"NB1", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"a name given at build time",
       {"northbeam.lan", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"a name that ends like the board's",
       {"evil.nb1", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a Host with an empty port",
       {"localhost:", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a Host with port 0",
       {"localhost:0", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a Host with a port past 65535",
       {"localhost:65536", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      // Then the first signal the browser sent decides.
      {"no signal", {"192.168.1.1:8080", nullptr, nullptr, nullptr, nullptr, false, "nb1"}, false},
      // A typed URL, a bookmark, a link from a mail and another site's
      // redirect all send "none".
      {"Sec-Fetch-Site none",
       {"192.168.1.1:8080", "none", nullptr, page, nullptr, false, "nb1"},
       false},
      {"Sec-Fetch-Site none over HTTPS",
       {"nb1", "none", "https://nb1", nullptr, nullptr, true, "nb1"},
       false},
      {"Sec-Fetch-Site same-site",
       {"192.168.1.1:8080", "same-site", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"Sec-Fetch-Site empty",
       {"192.168.1.1:8080", "", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"Sec-Fetch-Site wins over a same Origin",
       {"192.168.1.1:8080", "cross-site", "http://192.168.1.1:8080", nullptr, nullptr, false,
        "nb1"},
       false},
      {"Origin null", {"192.168.1.1:8080", nullptr, "null", nullptr, nullptr, false, "nb1"}, false},
      {"Origin on another port",
       {"192.168.1.1:8080", nullptr, "http://192.168.1.1:8081", nullptr, nullptr, false, "nb1"},
       false},
      {"Origin that only starts with the host",
       {"localhost", nullptr, "http://localhost.evil.example", nullptr, nullptr, false, "nb1"},
       false},
      {"Origin wins over a same Referer",
       {"192.168.1.1:8080", nullptr, "http://evil.example", page, nullptr, false, "nb1"},
       false},
      {"Referer of the board's page",
       {"192.168.1.1:8080", nullptr, nullptr, page, nullptr, false, "nb1"},
       true},
      // Browsers send no credentials, and read "\\" as "/": a URL with
      // either in its authority names nothing.
      {"Referer with credentials",
       {"10.1.1.1", nullptr, nullptr, "http://admin@10.1.1.1/cgi-bin/northbeam", nullptr, false,
        "nb1"},
       false},
      {"Referer with a backslash before the host",
       {"127.0.0.1:8080", nullptr, nullptr,
        "http://evil.example\\@127.0.0.1:8080/cgi-bin/northbeam", nullptr, false, "nb1"},
       false},
      {"a board name with an underscore",
       {"nb_1", nullptr, "http://nb_1", nullptr, nullptr, false, "nb_1"},
       true},
      {"a board name with a plus sign",
       {"nb+1", nullptr, "http://nb+1", nullptr, nullptr, false, "nb+1"},
       false},
      {"Referer with the host as its user",
       {"nb1", nullptr, nullptr, "http://nb1@evil.example/cgi-bin/northbeam", nullptr, false,
        "nb1"},
       false},
      {"Referer naming the board in its query",
       {"nb1", nullptr, nullptr, "http://evil.example/?http://nb1/", nullptr, false, "nb1"},
       false},
      {"Referer without a scheme",
       {"nb1", nullptr, nullptr, "nb1/cgi-bin/northbeam", nullptr, false, "nb1"},
       false},
      {"Referer of another scheme",
       {"nb1", nullptr, nullptr, "ftp://nb1/cgi-bin/northbeam", nullptr, false, "nb1"},
       false},
      // Host without a port: SERVER_PORT, else the scheme's default.
      {"a portless Host, SERVER_PORT and a Referer with the port",
       {"192.168.1.1", nullptr, nullptr, page, "8080", false, "nb1"},
       true},
      {"a portless Host, SERVER_PORT and a Referer without the port",
       {"192.168.1.1", nullptr, nullptr, "http://192.168.1.1/cgi-bin/northbeam", "8080", false,
        "nb1"},
       false},
      {"a portless Host and SERVER_PORT that is no port",
       {"192.168.1.1", nullptr, nullptr, "http://192.168.1.1/", "80x", false, "nb1"},
       false},
      {"http's default port on both sides",
       {"nb1", nullptr, nullptr, "http://nb1:80/cgi-bin/northbeam", nullptr, false, "nb1"},
       true},
      {"https's default port on both sides",
       {"nb1", nullptr, "https://nb1", nullptr, nullptr, true, "nb1"},
       true},
      {"an https page for a plain request",
       {"nb1", nullptr, "https://nb1", nullptr, nullptr, false, "nb1"},
       false},
      // A Referer proves a save only from the program's own page: another
      // page on the board's host can link out to a site that sends the
      // browser on to a save.
      {"Referer of the program's path alone",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/cgi-bin/northbeam", nullptr,
        false, "nb1"},
       true},
      {"Referer of the program's path with a fragment",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/cgi-bin/northbeam#x",
        nullptr, false, "nb1"},
       true},
      {"Referer of another page on the board",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/index.html", nullptr, false,
        "nb1"},
       false},
      {"Referer cut to the board's origin",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/", nullptr, false, "nb1"},
       false},
      {"Referer of the board's origin without a path",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080", nullptr, false, "nb1"},
       false},
      {"Referer of a path that begins with the program's",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/cgi-bin/northbeamX", nullptr,
        false, "nb1"},
       false},
      {"Referer of a path below the program's",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/cgi-bin/northbeam/x?rc=1",
        nullptr, false, "nb1"},
       false},
      {"Referer of the program's path in capitals",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/CGI-BIN/NORTHBEAM", nullptr,
        false, "nb1"},
       false},
      {"Referer of the program's page without SCRIPT_NAME",
       {"192.168.1.1:8080", nullptr, nullptr, page, nullptr, false, "nb1"},
       false,
       nullptr},
      {"Referer of the bare origin and an empty SCRIPT_NAME",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080?rc=1", nullptr, false,
        "nb1"},
       false,
       ""},
      {"Referer of the program's page under another SCRIPT_NAME",
       {"192.168.1.1:8080", nullptr, nullptr, page, nullptr, false, "nb1"},
       false,
       "/cgi-bin/nb"},
      {"Referer of a program served at another path",
       {"192.168.1.1:8080", nullptr, nullptr, "http://192.168.1.1:8080/nb.cgi?rc=1", nullptr, false,
        "nb1"},
       true,
       "/nb.cgi"},
      {"Origin without SCRIPT_NAME",
       {"192.168.1.1:8080", nullptr, "http://192.168.1.1:8080", nullptr, nullptr, false, "nb1"},
       true,
       nullptr},
      // The board's own name with a suffix that no public DNS answers.
      {"the board's name in .local",
       {"nb1.local", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"the board's name in .LAN",
       {"NB1.LAN", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"the board's name in .Home.Arpa with a port",
       {"nb1.Home.Arpa:8080", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"the board's name in .internal",
       {"nb1.internal", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true},
      {"the board's name in a public domain",
       {"nb1.evil.example", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a local suffix alone",
       {".local", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a local suffix alone and an empty board name",
       {".local", "same-origin", nullptr, nullptr, nullptr, false, ""},
       false},
      {"a local suffix then a public domain",
       {"nb1.local.evil", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"two local suffixes",
       {"nb1.lan.local", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a local suffix without its dot",
       {"nb1local", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"another device's name in .lan",
       {"router.lan", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      {"a local suffix before the board's name",
       {"local.nb1", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false},
      // Names the board's owner lists in the board's names file.
      {"a name of the names file",
       {"NB.Home:8080", nullptr, "http://nb.home:8080", nullptr, nullptr, false, "nb1"},
       true,
       "/cgi-bin/northbeam",
       "# the board's names\nrouter.example\nnb.home\n"},
      {"a name of the names file with blanks around it",
       {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true,
       "/cgi-bin/northbeam",
       "\n  \n\t nb.home \r\n"},
      {"a name on the names file's last line without a line feed",
       {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true,
       "/cgi-bin/northbeam",
       "a.example\nnb.home"},
      {"a name of the names file as a comment",
       {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false,
       "/cgi-bin/northbeam",
       "#nb.home\n# nb.home\n"},
      {"a name missing from the names file",
       {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false,
       "/cgi-bin/northbeam",
       "nb.home.evil\nhome\n"},
      {"no names file", {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"}, false},
      {"a name in overlong lines of the names file",
       {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       false,
       "/cgi-bin/northbeam",
       long_lines},
      {"a name on a line of 255 characters",
       {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true,
       "/cgi-bin/northbeam",
       std::string(300, 'x') + "\n" + longest},
      {"a name after overlong lines of the names file",
       {"nb.home", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       true,
       "/cgi-bin/northbeam",
       long_lines + "nb.home\n"},
  };
}

// Each row a test of its own, named by its description.
class SaveProof : public ::testing::TestWithParam<save_row> {};

std::string name_of(const ::testing::TestParamInfo<save_row> &info) {
  return row_name(info.param.what);
}

void PrintTo(const save_row &r, std::ostream *os) { *os << row_name(r.what); }

TEST_P(SaveProof, TakesASaveOnlyFromTheBoardsOwnPage) {
  const save_row &r = GetParam();
  reset_board();
  if (r.names_file != "<missing>") {
    ::mkdir(board("/etc/northbeam").c_str(), 0755);
    put("/etc/northbeam/board-names", r.names_file);
  }
  save_context c = r.c;
  c.script_name = r.script_name;
  EXPECT_EQ(save_is_proven(c), r.taken);
}

INSTANTIATE_TEST_SUITE_P(Row, SaveProof, ::testing::ValuesIn(save_rows()), name_of);

// What the server's error log gets for a save: the reason, and the text
// from the request it quotes kept to one short, plain line.
TEST(SaveProof, SaysWhyASaveWasRefused) {
  reset_board();
  const std::string refused = "northbeam: save refused: ";
  const std::string not_board = " is not one of the board's names\n";
  std::string long_host;
  for (int i = 0; i < 100; ++i)
    long_host += "a.";
  const std::vector<std::tuple<const char *, save_context, std::string>> cases = {
      {"a save taken", {"192.168.1.1", "same-origin", nullptr, nullptr, nullptr, false, "nb1"}, ""},
      {"no Host",
       {nullptr, "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       refused + "no Host\n"},
      {"a foreign Host",
       {"router.lan", "same-origin", nullptr, nullptr, nullptr, false, "nb1"},
       refused + "Host \"router.lan\"" + not_board},
      {"SERVER_PORT that is no port",
       {"192.168.1.1", "same-origin", nullptr, nullptr, "80\nx", false, "nb1"},
       refused + "SERVER_PORT \"80\\x0Ax\" is no port\n"},
      {"no proof",
       {"192.168.1.1:8080", "cross-site", nullptr, nullptr, nullptr, false, "nb1"},
       refused + "no proof that it comes from the board's own page\n"},
      {"a forged log line in the Host",
       {"evil\nnorthbeam: saved\r", nullptr, nullptr, nullptr, nullptr, false, "nb1"},
       refused + "Host \"evil\\x0Anorthbeam: saved\\x0D\"" + not_board},
      {"quotes, escapes and high bytes in the Host",
       {"a\"b\\c\x1B[2J\xC3\xA9\x7F", nullptr, nullptr, nullptr, nullptr, false, "nb1"},
       refused + "Host \"a\\x22b\\x5Cc\\x1B[2J\\xC3\\xA9\\x7F\"" + not_board},
      {"a long Host",
       {long_host.c_str(), nullptr, nullptr, nullptr, nullptr, false, "nb1"},
       refused + "Host \"" + long_host.substr(0, 80) + "\"..." + not_board},
  };
  for (const auto &[what, c, line] : cases) {
    char out[REFUSAL_LINE_SIZE];
    refusal_line(out, check_save(c), c);
    EXPECT_EQ(out, line) << what;
  }
  // A Host of 400 line feeds: 80 of them, escaped, then the cut.
  std::string feeds(400, '\n');
  save_context c = {feeds.c_str(), nullptr, nullptr, nullptr, nullptr, false, "nb1"};
  char out[REFUSAL_LINE_SIZE];
  refusal_line(out, check_save(c), c);
  std::string escaped;
  for (int i = 0; i < 80; ++i)
    escaped += "\\x0A";
  EXPECT_EQ(out, refused + "Host \"" + escaped + "\"..." + not_board);
}

// Whether a save is taken as the web server's variables describe it: each
// variable the decision reads, set and then changed.
TEST(Request, JudgesASaveByTheServersVariables) {
  char node[256] = "";
  ::gethostname(node, sizeof node);
  const std::string nodename = node;
  const std::string page = "/cgi-bin/northbeam?rc=1&index_link=Wan+Lan+Setting";
  struct env_row {
    const char *what;
    std::vector<std::pair<const char *, std::string>> env;
    bool taken;
  };
  const std::vector<env_row> rows = {
      {"Host and Referer of the page", {{"HTTP_REFERER", "http://127.0.0.1:8080" + page}}, true},
      {"another site by Sec-Fetch-Site",
       {{"HTTP_REFERER", "http://127.0.0.1:8080" + page}, {"HTTP_SEC_FETCH_SITE", "cross-site"}},
       false},
      {"another site by Origin",
       {{"HTTP_REFERER", "http://127.0.0.1:8080" + page}, {"HTTP_ORIGIN", "http://evil.example"}},
       false},
      {"the board's own name",
       {{"HTTP_HOST", nodename + ":8080"}, {"HTTP_REFERER", "http://" + nodename + ":8080" + page}},
       true},
      {"a Host without its port, on the server's port",
       {{"HTTP_HOST", "127.0.0.1"},
        {"SERVER_PORT", "8080"},
        {"HTTP_REFERER", "http://127.0.0.1:8080" + page}},
       true},
      {"a Host without its port, on another port",
       {{"HTTP_HOST", "127.0.0.1"},
        {"SERVER_PORT", "81"},
        {"HTTP_REFERER", "http://127.0.0.1:8080" + page}},
       false},
      {"https by HTTPS=on",
       {{"HTTP_HOST", "127.0.0.1"}, {"HTTPS", "on"}, {"HTTP_REFERER", "https://127.0.0.1" + page}},
       true},
      {"https by HTTPS=ON",
       {{"HTTP_HOST", "127.0.0.1"}, {"HTTPS", "ON"}, {"HTTP_REFERER", "https://127.0.0.1" + page}},
       true},
      {"https by REQUEST_SCHEME",
       {{"HTTP_HOST", "127.0.0.1"},
        {"REQUEST_SCHEME", "https"},
        {"HTTP_REFERER", "https://127.0.0.1" + page}},
       true},
      {"HTTPS=off is plain http",
       {{"HTTP_HOST", "127.0.0.1"}, {"HTTPS", "off"}, {"HTTP_REFERER", "https://127.0.0.1" + page}},
       false},
      {"REQUEST_SCHEME=http is plain http",
       {{"HTTP_HOST", "127.0.0.1"},
        {"REQUEST_SCHEME", "http"},
        {"HTTP_REFERER", "https://127.0.0.1" + page}},
       false},
  };
  const char *const vars[] = {"HTTP_HOST",      "HTTP_SEC_FETCH_SITE", "HTTP_ORIGIN",
                              "HTTP_REFERER",   "SERVER_PORT",         "HTTPS",
                              "REQUEST_SCHEME", "SCRIPT_NAME"};
  for (const env_row &r : rows) {
    for (const char *v : vars)
      ::unsetenv(v);
    ::setenv("HTTP_HOST", "127.0.0.1:8080", 1);
    ::setenv("SCRIPT_NAME", "/cgi-bin/northbeam", 1);
    for (const auto &[name, value] : r.env)
      ::setenv(name, value.c_str(), 1);
    EXPECT_EQ(save_is_proven(request_save_context()), r.taken) << r.what;
  }
  for (const char *v : vars)
    ::unsetenv(v);
}

} // namespace
