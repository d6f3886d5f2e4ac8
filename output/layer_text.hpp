// Text of a snapshot file: the block transposed, one line per column.
#pragma once

#include <cstddef>
#include <vector>

// Writes the lines of columns [column_begin, column_end) of the block into `text` (grown when too
// small, never shrunk) and returns the text's length. Line k holds column k from the first row to
// the last, every value as "%lf" followed by a tab, and every line ends with a newline after that
// tab.
std::size_t layer_text(double** field, const int& rows, const int& column_begin,
                       const int& column_end, std::vector<char>& text);
