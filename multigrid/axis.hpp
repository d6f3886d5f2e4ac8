// One direction of one level of the multigrid: its nodes, how each couples to its neighbours, and
// how the direction passes to the next coarser level's.
#pragma once

#include <array>
#include <vector>

// The nodes of a direction are 0 .. nodes - 1, both ends included. Along x the end nodes are the
// grid's held rows (Dirichlet: the coarse levels, which solve for corrections, hold 0 there); along
// y they are the insulated columns, which copy their inner neighbour, so that no flux crosses the
// wall half-way between them (Neumann). Either way the unknowns are nodes 1 .. nodes - 2.
//
// A coarser direction keeps every other node of the finer one, so its nodes lie unevenly near its
// ends on grids of any size; each node's couplings come from the finite volumes between the
// nodes (the Laplacian of the finer grid lumped onto the coarser: the same operator a Galerkin
// product gives in one direction, with its mass lumped), which is the five-point Laplacian itself
// on the finest level.
struct Axis {
  int nodes = 0;
  bool held_ends = true;         // Dirichlet (x) or insulated (y)
  double inverse_h2 = 1.0;       // 1 / h^2 of the finest spacing h
  double walls[2] = {0.0, 0.0};  // where no flux crosses, at insulated ends, in the units below
  std::vector<double> position;  // of each node, in units of the finest spacing
  std::vector<double> width;     // of each unknown's finite volume, in those units (ends: 0)
  std::vector<double> lower;     // coupling of node k to node k - 1, per unit of theta * dt
  std::vector<double> upper;     // to node k + 1 (0 at an insulated end)

  int unknowns() const { return nodes - 2; }
  // The coupling of a typical inner node: how strongly the direction ties its nodes together.
  double strength() const { return upper[nodes / 2 > 0 ? (nodes - 1) / 2 : 0]; }
};

// How a finer direction passes to its coarser one: prolongation by linear interpolation between
// the two coarse nodes around each fine node (a fine node on a coarse one takes it whole; the
// last fine node beyond the last coarse unknown at an insulated end takes that unknown whole), and
// restriction by its transpose weighted with the finite volumes, so that each coarse unknown
// gathers its own fine node and the two beside it with weights that add up to 1.
struct AxisTransfer {
  bool coarsened = false;       // false: the coarse direction is the fine one
  std::vector<int> anchor;      // the fine node at each coarse node
  std::vector<int> parent[2];   // the coarse nodes each fine node is interpolated from
  std::vector<double> part[2];  // and their weights (the second 0 where one suffices)
  std::vector<std::array<double, 3>> gather;  // each coarse node's weights of its anchor - 1,
                                              // anchor and anchor + 1
  // Coarse nodes [begin, end) whose anchors lie two fine nodes apart among evenly spaced fine
  // nodes, so that each gathers with the same weights and the fine node between two of them takes
  // half of each: the loops take them eight at a time. Empty where the direction is not coarsened.
  int regular[2] = {0, 0};
};

// The finest direction of a grid of `nodes` nodes along it, with spacing `h`.
Axis finest_axis(int nodes, bool held_ends, double h);

// Whether `axis` has enough unknowns to lose half of them (three or more).
bool can_coarsen(const Axis& axis);

// The coarser direction from `fine`, and the transfer between them; `coarsen` false keeps the
// direction as it is (identity transfer), for semi-coarsening.
Axis coarser_axis(const Axis& fine, bool coarsen, AxisTransfer& transfer);
