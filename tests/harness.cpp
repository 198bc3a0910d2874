#include "harness.hpp"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/capability.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "funlib.hpp"

namespace {

std::vector<std::string> split_words(const char *s) {
  std::vector<std::string> words;
  std::istringstream in(s != nullptr ? s : "");
  for (std::string w; in >> w;)
    words.push_back(w);
  return words;
}

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

} // namespace

const char *program() {
  const char *other = std::getenv("NB_TEST_PROGRAM");
  return other != nullptr && *other != '\0' ? other : NB_PROGRAM;
}

running start(const request &r) {
  int out[2], in[2];
  if (::pipe(out) != 0 || ::pipe(in) != 0)
    throw std::runtime_error("pipe");
  std::vector<std::string> env = r.env;
  if (r.method != nullptr)
    env.push_back(std::string("REQUEST_METHOD=") + r.method);
  if (r.query != nullptr)
    env.push_back(std::string("QUERY_STRING=") + r.query);
  std::vector<std::string> argv = split_words(std::getenv("NB_TEST_EMULATOR"));
  argv.push_back(program());
  argv.insert(argv.end(), r.args.begin(), r.args.end());

  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::close(in[0]);
    ::close(in[1]);
    ::close(out[0]);
    ::close(out[1]);
    if (r.output == request::closed)
      ::close(1);
    // A web server starts its programs with the default SIGPIPE action.
    std::signal(SIGPIPE, SIG_DFL);
    if (r.obey_permissions)
      for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        ::prctl(PR_CAPBSET_DROP, cap); // gone from the program that exec starts

    std::vector<char *> a, e;
    for (auto &s : argv)
      a.push_back(s.data());
    a.push_back(nullptr);
    for (auto &s : env)
      e.push_back(s.data());
    e.push_back(nullptr);
    ::alarm(20); // a hung request fails its test instead of the suite
    ::execve(a[0], a.data(), e.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  if (r.output == request::reader_gone) {
    ::close(out[0]);
    out[0] = -1;
  }
  // Bodies in these tests are small enough for the pipe.
  std::signal(SIGPIPE, SIG_IGN);
  if (!r.body.empty() && ::write(in[1], r.body.data(), r.body.size()) < 0) {
    // the program may refuse the body before reading it
  }
  ::close(in[1]);
  return {pid, out[0]};
}

answer finish(running p) {
  answer a;
  char buf[65536];
  while (p.fd >= 0) {
    ssize_t n = ::read(p.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    a.out.append(buf, static_cast<std::size_t>(n));
  }
  if (p.fd >= 0)
    ::close(p.fd);
  int st = 0;
  while (::waitpid(p.pid, &st, 0) < 0 && errno == EINTR) {
  }
  a.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return a;
}

std::string golden(const std::string &name, const std::map<std::string, std::string> &vars) {
  std::istringstream in(slurp(std::string(NB_GOLDEN_DIR "/") + name + ".txt"));
  std::string text;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#')
      continue;
    if (line[0] == '@') {
      text += golden(line.substr(1), vars);
      continue;
    }
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line.compare(i, 2, "\\n") == 0) {
        text += '\n';
        ++i;
      } else if (line[i] == '{' && line.find('}', i) != std::string::npos) {
        std::size_t end = line.find('}', i);
        auto it = vars.find(line.substr(i + 1, end - i - 1));
        if (it == vars.end())
          throw std::runtime_error("no value for " + line.substr(i, end - i + 1) + " in " + name);
        text += it->second;
        i = end;
      } else {
        text += line[i];
      }
    }
  }
  return text;
}

namespace {

// What every document opens with: the CGI header, the head and <BODY>.
std::string document_open() {
  return golden("header") + "<HTML><HEAD><TITLE>" + PAGE_TITLE + "</TITLE></HEAD><BODY>";
}

} // namespace

std::string shell(const std::string &body) { return document_open() + body + "</BODY></HTML>"; }

std::string wait_answer() { return document_open() + golden("wait"); }

std::string default_of(NETCONF_ENUM setting) { return std::string(netconf_fields[setting].value); }

std::string form_page(const std::map<std::string, std::string> &vars) {
  std::map<std::string, std::string> all = {
      {"OPTIONS", "<OPTION> Static IP Address<OPTION> Dynamic IP Address"}};
  for (const netconf_field &f : netconf_fields)
    all[std::string(f.name)] = std::string(f.value);
  for (const auto &[key, value] : vars)
    all[key] = value;
  return golden("wanlan", all);
}

std::string board(const std::string &path) { return std::string(NB_ROOT) + path; }

void put(const std::string &path, const std::string &text, unsigned mode) {
  std::string p = board(path);
  std::string tmp = p + ".new";
  {
    std::ofstream o(tmp, std::ios::binary | std::ios::trunc);
    o << text;
  }
  ::chmod(tmp.c_str(), mode);
  if (::rename(tmp.c_str(), p.c_str()) != 0)
    throw std::runtime_error("cannot write " + p);
}

std::string get(const std::string &path) {
  std::ifstream in(board(path), std::ios::binary);
  if (!in)
    return "<missing>";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {

struct sign_name {
  char sign;
  const char *name;
};

// Signs the rows' descriptions use, by name: two rows differing in a sign
// get two names.
constexpr sign_name sign_names[] = {
    {'%', "pct"},   {'+', "plus"},    {'-', "minus"},  {'&', "amp"},    {';', "semi"},
    {'|', "pipe"},  {'(', "lparen"},  {')', "rparen"}, {'<', "lt"},     {'>', "gt"},
    {'"', "quote"}, {'\'', "apos"},   {'`', "tick"},   {'$', "dollar"}, {'*', "star"},
    {'~', "tilde"}, {'\\', "bslash"}, {'/', "slash"},  {'=', "eq"},     {'.', "dot"},
    {',', "comma"}, {':', "colon"},   {'[', "lbrack"}, {']', "rbrack"}, {'?', "quest"},
    {'#', "hash"},  {'@', "at"},      {'!', "bang"},   {'{', "lbrace"}, {'}', "rbrace"},
    {'^', "caret"}, {'_', "_"},
};

// The name of one byte of a description; "" for none.
std::string byte_name(unsigned char c) {
  if (std::isalnum(c) != 0)
    return std::string(1, static_cast<char>(c));
  if (c == ' ')
    return "_";
  for (const sign_name &s : sign_names) {
    if (s.sign == static_cast<char>(c))
      return std::string("_") + s.name + "_";
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "_x%02X_", c);
  return hex;
}

} // namespace

std::string row_name(const std::string &what) {
  std::string name;
  for (char c : what) {
    for (char n : byte_name(static_cast<unsigned char>(c))) {
      // One "_" between words, none at either end.
      if (n == '_' && (name.empty() || name.back() == '_'))
        continue;
      name += n;
    }
  }
  while (!name.empty() && name.back() == '_')
    name.pop_back();
  return name;
}

void reset_board() {
  // The test board is a folder of the build, and only it is ever emptied.
  std::string root = NB_ROOT;
  if (root.size() < 6 || root.compare(root.size() - 5, 5, "/root") != 0)
    throw std::runtime_error("not a test board: " + root);
  std::string cmd = "chmod -R u+w '" + root + "' 2>/dev/null; rm -rf '" + root + "' && mkdir -p '" +
                    root + "/proc' '" + root + "/sbin' '" + root + "/tmp' '" + root + "/etc'";
  if (std::system(cmd.c_str()) != 0)
    throw std::runtime_error("cannot lay out " + root);
}
