// The program's vocabulary: page selectors, the board's fixed paths, and the
// settings table with its file.
#ifndef NORTHBEAM_FUNLIB_HPP
#define NORTHBEAM_FUNLIB_HPP

#include <array>
#include <cstddef>
#include <string_view>

#ifndef NB_ROOT
#define NB_ROOT ""
#endif
// Where the settings live on the board; a distribution puts them in a
// folder of their own that no other local user can write.
#ifndef NB_SETTINGS_PATH
#define NB_SETTINGS_PATH "/tmp/config.out"
#endif

// Every fixed path of the board, under the build's root prefix.
inline constexpr char PATH_CPUINFO[] = NB_ROOT "/proc/cpuinfo";
inline constexpr char PATH_MEMINFO[] = NB_ROOT "/proc/meminfo";
inline constexpr char PATH_PCI[] = NB_ROOT "/proc/pci";
inline constexpr char CMD_IFCONFIG[] = NB_ROOT "/sbin/ifconfig";
inline constexpr char CMD_ROUTE[] = NB_ROOT "/sbin/route";
inline constexpr char PATH_SETTINGS[] = NB_ROOT NB_SETTINGS_PATH;
inline constexpr char PATH_CONFIGURE[] = NB_ROOT "/etc/Configure";
// Names by which the board's owner reaches it, one a line, for the saves.
inline constexpr char PATH_BOARD_NAMES[] = NB_ROOT "/etc/northbeam/board-names";

// The title of every document.
inline constexpr char PAGE_TITLE[] = "Tessaline - Your Northbeam Partner";
// The program's own address, for the forms and the wait page's refresh.
#define CGI_PATH "/cgi-bin/northbeam"

enum CGI_NAME_ENUM {
  INDEX_LINK = 0, // the variable that names a page
  CGI_NAME_COUNT,
};

inline constexpr std::array<std::string_view, CGI_NAME_COUNT> cgi_name_str = {
    "index_link",
};

// The pages, in menu order.
enum INDEX_LINK_ENUM {
  HARDWARE = 0, // the home page
  CPUINFO,      // /proc/cpuinfo
  MEMINFO,      // /proc/meminfo
  PCIINFO,      // /proc/pci
  WANLAN,       // the settings form
  NETSTAT,      // ifconfig
  ROUTETABLE,   // route
  INDEX_LINK_COUNT,
};

// Page names as requests carry them.
inline constexpr std::array<std::string_view, INDEX_LINK_COUNT> index_link_value_str = {
    "Hardware",        // HARDWARE
    "CPU_Info",        // CPUINFO: an underscore, unlike its label
    "MEM Info",        // MEMINFO
    "PCI Info",        // PCIINFO
    "Wan Lan Setting", // WANLAN
    "Net Statistics",  // NETSTAT
    "Route Table",     // ROUTETABLE
};

// Menu labels; the spaces even out the buttons in a fixed-width font.
inline constexpr std::array<std::string_view, INDEX_LINK_COUNT> index_link_print_str = {
    "     Hardware     ", // HARDWARE
    "     CPU Info     ", // CPUINFO
    "    MEM Info    ",   // MEMINFO
    "     PCI Info     ", // PCIINFO
    "Wan Lan Setting",    // WANLAN: no padding
    "  Net Statistics  ", // NETSTAT
    "   Route Table   ",  // ROUTETABLE
};

// Whether every page has text in the table: an initializer list one page
// short still fills the array, with an empty entry. The entries are read by
// reference: g++ 12 cannot copy a left-out entry at compile time.
constexpr bool every_page_has(const std::array<std::string_view, INDEX_LINK_COUNT> &table) {
  for (const std::string_view &s : table) {
    if (s.empty())
      return false;
  }
  return true;
}
static_assert(every_page_has(index_link_value_str),
              "index_link_value_str: every page needs a non-empty request value");
static_assert(every_page_has(index_link_print_str),
              "index_link_print_str: every page needs a non-empty menu label");

// The pages one request shows at most: a request naming more would start a
// command for each, so any site's page could keep the board busy.
inline constexpr int PAGES_PER_REQUEST = 7;

// INDEX_LINK when str is exactly "index_link", non-zero otherwise.
int cgi_name_parse(const char *str);
// Index (0-6) of the page named exactly str, or -1.
int index_link_parse(const char *str);
// -1 when name is not exactly "rc"; else value as a decimal int (leading
// white space and sign accepted, trailing text ignored, 0 for no digits or
// a number outside int).
int get_rc(const char *name, const char *value);

// One setting: a fixed name and its current value.
struct _netconf {
  char name[16];
  char value[32];
};

enum NETCONF_ENUM {
  E_WAN_STATICIP = 0, // "y" static, "n" dynamic
  E_WAN_IPADDR,
  E_WAN_NETMASK,
  E_WAN_NETWORK, // kept, never shown
  E_WAN_ROUTE,   // the gateway
  E_DNS1,
  E_DNS2,
  NETCONF_COUNT,
};

// One setting as the board knows it: its name in the settings file and the
// form, the form's label for it (empty: not shown), the board's default,
// and the width of its text field (0: no text field of its own).
struct netconf_field {
  std::string_view name;
  std::string_view label;
  std::string_view value;
  int size;
};

// The settings, in NETCONF_ENUM order: the one place that names them.
inline constexpr std::array<netconf_field, NETCONF_COUNT> netconf_fields = {{
    {"WAN_STATICIP", "WAN Type", "y", 0}, // a selection of two options
    {"WAN_IPADDR", "WAN IP Address", "10.1.10.227", 15},
    {"WAN_NETMASK", "WAN Subnet Mask", "255.255.255.0", 15},
    {"WAN_NETWORK", "", "10.1.0.0", 0},
    {"WAN_ROUTE", "WAN Gateway", "10.1.0.1", 15},
    {"DNS1", "Primary DNS", "10.0.0.2", 15},
    {"DNS2", "Secondary DNS", "10.0.0.5", 15},
}};

// Whether every setting has a name and a default that fit a record.
constexpr bool fields_fit_records() {
  for (const netconf_field &f : netconf_fields) {
    if (f.name.empty() || f.name.size() >= sizeof(_netconf::name) ||
        f.value.size() >= sizeof(_netconf::value))
      return false;
  }
  return true;
}
static_assert(fields_fit_records(),
              "netconf_fields: every setting needs a name under 16 bytes and a default under 32");

// The settings of this process, starting from the board's defaults.
extern std::array<_netconf, NETCONF_COUNT> netconf;

// Capacity of the settings text, with its NUL.
inline constexpr std::size_t NETDATA_SIZE = 2048;

// Replaces the settings file atomically with str; false, leaving the old
// file as it was, when it cannot. Never writes through a link planted at
// the settings path.
bool write_netdata(const char *str);

// Overlays the settings file onto netconf. A missing file, a link,
// anything but a regular file, or a file of another user than root or the
// program's own leaves the table as it is.
void read_netdata();

// Stores str2 in the record named exactly str1; a value longer than a
// record holds, or an unknown name, changes nothing.
void insert_netdata(const char *str1, const char *str2);

// Appends the settings line of one saved pair to netdata (NUL-terminated,
// NETDATA_SIZE bytes). Returns false, leaving netdata as it is, for a name
// that is not one of netconf's, a value that could leave its quotes, or a
// line that would not fit whole.
bool netdata_append(char *netdata, const char *name, const char *value);

#endif
