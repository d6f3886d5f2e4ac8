// The header of a NumPy .npy file holding a field of doubles: written, and read back.
#include "checkpoint/npy_header.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "checkpoint/text_cursor.hpp"
#include "common/json_line.hpp"

namespace {

constexpr char MAGIC[] = "\x93NUMPY";
constexpr std::size_t MAGIC_LENGTH = 6;

const char* native_descr() {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return ">f8";
#else
  return "<f8";
#endif
}

// A reader over the header's dictionary, a Python literal such as
// {'descr': '<f8', 'fortran_order': False, 'shape': (4096, 4096), }.
struct Literal : TextCursor {
  bool string(std::string& value) {
    skip_space();
    if (at >= text.size() || (text[at] != '\'' && text[at] != '"')) return false;
    const std::size_t end = text.find(text[at], at + 1);
    if (end == std::string::npos) return false;
    value = text.substr(at + 1, end - at - 1);
    at = end + 1;
    return true;
  }
  bool word(const char* w) {
    skip_space();
    if (text.compare(at, std::strlen(w), w) != 0) return false;
    at += std::strlen(w);
    return true;
  }
  bool integer(long long& value) {
    skip_space();
    if (at >= text.size() || !std::isdigit(static_cast<unsigned char>(text[at]))) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str() + at, &end, 10);
    at = end - text.c_str();
    return true;
  }
  bool shape(NpyLayout& layout) {
    if (!take('(')) return false;
    layout.dimensions = 0;
    long long extent = 0;
    while (integer(extent)) {
      if (layout.dimensions < 2) layout.shape[layout.dimensions] = extent;
      ++layout.dimensions;
      if (!take(',')) break;
    }
    return take(')');
  }
};

// Version 1.0 gives the dictionary's length in two bytes, 2.0 and 3.0 in four; 0 for others.
std::size_t preamble_length(const std::string& start) {
  if (start.size() < 12 || start.compare(0, MAGIC_LENGTH, MAGIC) != 0) return 0;
  if (start[MAGIC_LENGTH + 1] != 0) return 0;
  const int major = static_cast<unsigned char>(start[MAGIC_LENGTH]);
  return major == 1 ? 10 : major == 2 || major == 3 ? 12 : 0;
}

}  // namespace

std::string npy_header(const GridSize& grid) {
  std::string dict = std::string("{'descr': '") + native_descr() +
                     "', 'fortran_order': False, 'shape': (" + std::to_string(grid.nx) +
                     ", " + std::to_string(grid.ny) + "), }";
  // Magic (6 bytes), version (2), header length (2, little-endian), then the dictionary, padded
  // with spaces and ended by a newline.
  const std::size_t preamble = 10;
  const std::size_t unpadded = preamble + dict.size() + 1;
  dict.append((64 - unpadded % 64) % 64, ' ');
  dict += '\n';
  const std::size_t length = dict.size();
  std::string header("\x93NUMPY\x01\x00", 8);
  header += static_cast<char>(length & 0xff);
  header += static_cast<char>(length >> 8);
  return header + dict;
}

std::size_t npy_header_length(const std::string& start) {
  const std::size_t preamble = preamble_length(start);
  std::size_t length = 0;
  for (std::size_t k = preamble; k-- > 8;) {
    length = length << 8 | static_cast<unsigned char>(start[k]);
  }
  return preamble == 0 ? 0 : preamble + length;
}

std::string parse_npy_header(const std::string& header, NpyLayout& layout) {
  const std::size_t length = npy_header_length(header);
  if (length == 0 || length != header.size()) return "not a NumPy .npy file";
  Literal dict{{header, preamble_length(header)}};
  bool descr = false;
  bool order = false;
  bool shape = false;
  if (!dict.take('{')) return "a .npy header that is not a dictionary";
  std::string key;
  while (dict.string(key)) {
    if (!dict.take(':')) return "a .npy header that cannot be read";
    if (key == "descr") {
      descr = dict.string(layout.descr);
    } else if (key == "fortran_order") {
      layout.fortran_order = dict.word("True");
      order = layout.fortran_order || dict.word("False");
    } else if (key == "shape") {
      shape = dict.shape(layout);
    } else {
      return "a .npy header with an unknown key '" + printable(key, 60) + "'";
    }
    if (!dict.take(',')) break;
  }
  if (!dict.take('}') || !descr || !order || !shape) return "a .npy header that cannot be read";
  dict.skip_space();
  if (dict.at != header.size()) return "a .npy header that cannot be read";
  layout.data_offset = length;
  return "";
}

std::string check_field_layout(const NpyLayout& layout) {
  if (layout.descr != native_descr()) {
    return "holds '" + layout.descr + "' values, not float64 in this machine's byte order ('" +
           native_descr() + "')";
  }
  if (layout.dimensions != 2) {
    return "holds an array of " + std::to_string(layout.dimensions) + " dimension" +
           (layout.dimensions == 1 ? "" : "s") + ", not a two-dimensional field";
  }
  if (layout.fortran_order) return "is stored in Fortran order, not C order";
  return "";
}
