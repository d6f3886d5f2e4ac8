// Snapshot files: one block of the field appended to the file named "rank<label>_<step>".
#include "output/write_layer.hpp"

#include <vector>

#include "output/append_text.hpp"
#include "output/layer_text.hpp"
#include "output/snapshot_name.hpp"

int write_layer(double** field, const int& rows, const int& cols, const int& rank_label,
                double step_label) {
  char name[SNAPSHOT_NAME_SIZE];
  snapshot_name(rank_label, step_label, name);

  // Kept between calls: the first call sizes it for every strip after. The whole text goes out in
  // one append, so copies of the initial field appended at once by every process never interleave.
  static std::vector<char> text;
  const std::size_t length = layer_text(field, rows, cols, text);
  return append_text(name, text.data(), length);
}
