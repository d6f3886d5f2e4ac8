// Text of a snapshot file: the block transposed, one line per column.
#include "output/layer_text.hpp"

#include <algorithm>

#include "output/format_lf.hpp"

std::size_t layer_text(double** field, const int& rows, const int& column_begin,
                       const int& column_end, std::vector<char>& text) {
  constexpr std::size_t VALUE_ROOM = FORMAT_LF_MAX + 2;  // a value, its tab and a line end
  std::size_t length = 0;
  for (int k = column_begin; k < column_end; ++k) {
    for (int r = 0; r < rows; ++r) {
      if (text.size() - length < VALUE_ROOM) {
        text.resize(std::max(2 * text.size(), length + 16 * VALUE_ROOM));
      }
      length += format_lf(field[r][k], text.data() + length);
      text[length++] = '\t';
    }
    text[length++] = '\n';
  }
  return length;
}
