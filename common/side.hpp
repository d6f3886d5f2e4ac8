// The four sides of a block, and values kept one per side.
#pragma once

enum class Side { top, bottom, left, right };

constexpr int SIDE_COUNT = 4;
constexpr Side SIDES[SIDE_COUNT] = {Side::top, Side::bottom, Side::left, Side::right};

constexpr int index_of(Side side) {
  return static_cast<int>(side);
}

constexpr Side opposite(Side side) {
  constexpr Side OPPOSITE[SIDE_COUNT] = {Side::bottom, Side::top, Side::right, Side::left};
  return OPPOSITE[index_of(side)];
}

// Whether the side is a row of the block (top, bottom) rather than a column.
constexpr bool is_row_side(Side side) {
  return side == Side::top || side == Side::bottom;
}

// One value for each side, indexed by the side.
template <typename T>
struct PerSide {
  T values[SIDE_COUNT];

  constexpr T& operator[](Side side) { return values[index_of(side)]; }
  constexpr const T& operator[](Side side) const { return values[index_of(side)]; }
};
