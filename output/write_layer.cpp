// Snapshot files: one block of the field appended to the file named "rank<label>_<step>".
#include "output/write_layer.hpp"

#include <algorithm>
#include <vector>

#include "output/append_text.hpp"
#include "output/layer_text.hpp"
#include "output/snapshot_name.hpp"

namespace {
// Text is made and written this many values at a time (about 11 bytes each), so that a large
// strip needs no second copy of itself as text. Any strip of a small grid goes out in one write.
constexpr int CHUNK_VALUES = 1 << 19;
}  // namespace

int write_layer(double** field, const int& rows, const int& cols, const int& rank_label,
                double step_label) {
  char name[SNAPSHOT_NAME_SIZE];
  snapshot_name(rank_label, step_label, name);

  // Kept between calls: the first call sizes it for every strip after. The initial field, which
  // every process appends to the same file, is one chunk on a small grid, so the copies cannot
  // interleave; on a larger grid they can only interleave in whole lines, and all its lines are
  // the same.
  static std::vector<char> text;
  const int columns_per_chunk = std::max(1, CHUNK_VALUES / std::max(rows, 1));
  for (int k = 0, end = 0; k < cols; k = end) {
    end = cols - k <= columns_per_chunk ? cols : k + columns_per_chunk;
    const std::size_t length = layer_text(field, rows, k, end, text);
    const int error = append_text(name, text.data(), length);
    if (error != 0) return error;
  }
  return 0;
}
