// One time step of a rectangle of a block.
#include "solver/update_region.hpp"

#include "solver/update_block_row.hpp"
#include "solver/update_strip.hpp"

namespace {

// Rows narrower than this gain nothing from wide vectors.
constexpr int WIDE_ROW = 64;

// Whether `region` is the whole of a block as wide as the grid, a strip whose rows need no case
// analysis of their ends, and one that the wide vectors would not speed up (narrow, or streamed).
bool plain_strip(const Block& block, const Region& region, bool stream) {
  return block.left_side && block.right_side && region.row_begin == 0 &&
         region.row_end == block.rows() && region.col_begin == 0 &&
         region.col_end == block.cols() && (stream || block.cols() < WIDE_ROW);
}

// Such a strip takes heat2d's own row loop; its held rows copy themselves, which is what their
// ghost row holds in heat2d.
template <bool Stream>
__attribute__((always_inline)) inline void update(double** T0, double** T1, const Block& block,
                                                  const Region& region, const Scheme& scheme) {
  if (plain_strip(block, region, Stream)) {
    const int rows = block.rows();
    const StripEdges edges = {block.top_held ? T0[0] : T0[-1],
                              block.bottom_held ? T0[rows - 1] : T0[rows], block.top_held,
                              block.bottom_held};
    update_strip<Stream>(T0, T1, rows, block.cols(), edges, scheme);
    return;
  }
  for (int i = region.row_begin; i < region.row_end; ++i) {
    update_block_row<Stream>(T0, T1, block, i, region.col_begin, region.col_end, scheme);
  }
}

}  // namespace

// Compiled for AVX2 as well, like heat2d's compute, and picked at load time.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__)
__attribute__((target_clones("avx2", "default")))
#endif
void update_region(double** T0, double** T1, const Block& block, const Region& region,
                   const Scheme& scheme, bool stream) {
  if (region.empty()) return;
  if (stream) {
    update<true>(T0, T1, block, region, scheme);
    finish_streaming();
  } else {
    update<false>(T0, T1, block, region, scheme);
  }
}
