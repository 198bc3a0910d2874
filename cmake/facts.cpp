// Writes the program's pages, settings and title as JSON, for the tests,
// the demo, the bench and the fuzzers, which read them from the build
// folder rather than keep lists of their own.
#include <cstdio>
#include <string_view>

#include "funlib.hpp"

namespace {

// Writes s as a JSON string (the tables hold no control characters).
void json_string(std::string_view s) {
  std::putchar('"');
  for (char c : s) {
    if (c == '"' || c == '\\')
      std::putchar('\\');
    std::putchar(c);
  }
  std::putchar('"');
}

// Writes "key": s.
void json_member(const char *key, std::string_view s) {
  std::printf("\"%s\": ", key);
  json_string(s);
}

} // namespace

int main() {
  std::printf("{\n  ");
  json_member("title", PAGE_TITLE);
  std::printf(",\n  ");
  json_member("cgi", CGI_PATH);
  std::printf(",\n  ");
  json_member("index_link", cgi_name_str[INDEX_LINK]);
  // The pages the harness needs by what they are.
  std::printf(
      ",\n  \"home\": %d,\n  \"form\": %d,\n  \"commands\": {\"ifconfig\": %d, \"route\": %d},\n",
      HARDWARE, WANLAN, NETSTAT, ROUTETABLE);
  std::printf("  \"pages\": [");
  for (std::size_t i = 0; i < INDEX_LINK_COUNT; ++i) {
    std::printf("%s\n    {", i > 0 ? "," : "");
    json_member("value", index_link_value_str[i]);
    std::printf(", ");
    json_member("label", index_link_print_str[i]);
    std::printf("}");
  }
  std::printf("\n  ],\n  \"fields\": [");
  for (std::size_t i = 0; i < NETCONF_COUNT; ++i) {
    const netconf_field &f = netconf_fields[i];
    std::printf("%s\n    {", i > 0 ? "," : "");
    json_member("name", f.name);
    std::printf(", ");
    json_member("label", f.label);
    std::printf(", ");
    json_member("default", f.value);
    std::printf(", \"size\": %d}", f.size);
  }
  std::printf("\n  ]\n}\n");
  return 0;
}
