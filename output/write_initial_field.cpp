// The initial-field snapshot of a grid of any size, without holding the grid.
#include "output/write_initial_field.hpp"

#include <algorithm>
#include <vector>

#include "output/append_text.hpp"
#include "output/layer_text.hpp"
#include "output/snapshot_name.hpp"

namespace {
constexpr int INITIAL_FIELD_RANK = -100;
constexpr std::size_t CHUNK_BYTES = std::size_t{4} << 20;
}  // namespace

int write_initial_field(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y) {
  // A file line is a grid column, and every column of the initial field is the same: 100.0 in row
  // 0, then zeros. So the text is one line, made once, written NUMBER_OF_NODES_Y times.
  double hot = 100.0;
  double cold = 0.0;
  std::vector<double*> column(NUMBER_OF_NODES_X, &cold);
  column[0] = &hot;
  std::vector<char> line;
  const std::size_t line_length = layer_text(column.data(), NUMBER_OF_NODES_X, 0, 1, line);

  // Whole lines per write, as many as fit in a chunk: when several processes append their copies
  // at once, their writes may interleave, but only whole identical lines, so the file still holds
  // the copies byte for byte. A small grid goes out in a single write.
  const std::size_t lines = static_cast<std::size_t>(NUMBER_OF_NODES_Y);
  const std::size_t per_chunk = std::clamp<std::size_t>(CHUNK_BYTES / line_length, 1, lines);
  std::vector<char> chunk;
  chunk.reserve(per_chunk * line_length);
  for (std::size_t k = 0; k < per_chunk; ++k) {
    chunk.insert(chunk.end(), line.begin(), line.begin() + line_length);
  }

  char name[SNAPSHOT_NAME_SIZE];
  snapshot_name(INITIAL_FIELD_RANK, 0.0, name);
  int error = append_text(name, chunk.data(), chunk.size(), lines / per_chunk);
  if (error == 0 && lines % per_chunk != 0) {
    error = append_text(name, chunk.data(), (lines % per_chunk) * line_length);
  }
  return error;
}
