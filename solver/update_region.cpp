// One time step of a rectangle of a block.
#include "solver/update_region.hpp"

#include "solver/update_block_row.hpp"

namespace {

// Whether `region` is the whole of a block as wide as the grid: a strip, whose rows need no case
// analysis of their ends, and which the kernel's strip does without a call per row.
bool whole_strip(const Block& block, const Region& region) {
  return block.on_edge(Side::left) && block.on_edge(Side::right) && region.row_begin == 0 &&
         region.row_end == block.rows && region.col_begin == 0 && region.col_end == block.cols;
}

}  // namespace

void update_region(double** T0, double** T1, const Block& block, const Region& region,
                   const Scheme& scheme, const SpanKernel& kernel) {
  if (region.empty()) return;
  if (whole_strip(block, region)) {
    // The held rows copy themselves, which is what their ghost row holds in heat2d.
    const int rows = block.rows;
    const bool top_held = block.on_edge(Side::top);
    const bool bottom_held = block.on_edge(Side::bottom);
    const StripEdges edges = {top_held ? T0[0] : T0[-1], bottom_held ? T0[rows - 1] : T0[rows],
                              top_held, bottom_held};
    kernel.strip(T0, T1, rows, block.cols, edges, scheme);
  } else {
    for (int i = region.row_begin; i < region.row_end; ++i) {
      update_block_row(T0, T1, block, i, region.col_begin, region.col_end, scheme, kernel);
    }
  }
  if (kernel.streams) finish_streaming();
}
