// Name of a snapshot file: "rank%i_%lf" of the rank label and the step label.
#include "output/snapshot_name.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "output/format_lf.hpp"

void snapshot_name(const int& rank_label, double step_label, char* name) {
  // Composed without printf: the time loop names 2500 files per process.
  char text[4 + 11 + 1 + FORMAT_LF_MAX];
  std::memcpy(text, "rank", 4);
  char* end = std::to_chars(text + 4, text + 15, rank_label).ptr;
  *end++ = '_';
  end += format_lf(step_label, end);
  const std::size_t length = std::min<std::size_t>(end - text, SNAPSHOT_NAME_SIZE - 1);
  std::memcpy(name, text, length);
  name[length] = '\0';
}
