// The listing as an 80-byte line buffer reads a file: chunks end after a
// line feed or 79 bytes, each indented and escaped, a NUL ending its
// chunk's text. The tests and the listing's fuzz target hold the program
// to it.
#ifndef NORTHBEAM_LISTING_MODEL_HPP
#define NORTHBEAM_LISTING_MODEL_HPP

#include <algorithm>
#include <string>

inline std::string chunked(const std::string &file) {
  std::string out;
  for (std::size_t i = 0; i < file.size();) {
    std::size_t nl = file.find('\n', i);
    std::size_t len =
        std::min<std::size_t>(79, (nl == std::string::npos ? file.size() : nl + 1) - i);
    out += "        ";
    for (char c : file.substr(i, len)) {
      if (c == '\0')
        break;
      const char *ref = c == '&'    ? "&amp;"
                        : c == '<'  ? "&lt;"
                        : c == '>'  ? "&gt;"
                        : c == '"'  ? "&quot;"
                        : c == '\'' ? "&#39;"
                                    : nullptr;
      out += ref != nullptr ? std::string(ref) : std::string(1, c);
    }
    i += len;
  }
  return out;
}

#endif
