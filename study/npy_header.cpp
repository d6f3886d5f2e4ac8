// The header of a NumPy .npy file holding a field of doubles.
#include "study/npy_header.hpp"

std::string npy_header(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  const char* descr = ">f8";
#else
  const char* descr = "<f8";
#endif
  std::string dict = std::string("{'descr': '") + descr + "', 'fortran_order': False, 'shape': (" +
                     std::to_string(NUMBER_OF_NODES_X) + ", " + std::to_string(NUMBER_OF_NODES_Y) +
                     "), }";
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
