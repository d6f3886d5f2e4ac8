// One time step of a block: its edges traded with the blocks around it, then the next layer.
#pragma once

#include "solver/halo_exchange.hpp"
#include "solver/process_grid.hpp"

// The coefficients of the explicit update, dt / (dx * dx) and dt / (dy * dy): product first, then
// quotient (dt / dx / dx would round differently).
struct Scheme {
  double rx = 0.0;
  double ry = 0.0;
};
Scheme make_scheme(const double& dx, const double& dy, const double& dt);

// Blocking trades every edge before the update; overlap posts the trades, updates the cells that
// need nothing from a neighbour while the edges travel, then waits and updates the rest.
enum class Exchange { blocking, overlap };

// Writes every cell of T1 from T0 (blocks from allocate_block) after trading T0's edges: the held
// first and last rows of the grid copy themselves, insulated side cells copy their inner neighbour,
// every other cell is updated from its four neighbours, ghost cells included. The seconds spent
// trading (waiting included) are added to exchange_seconds. Every path gives the same bits.
void block_step(double** T0, double** T1, const Block& block, const Scheme& scheme, Halo& halo,
                Exchange exchange, double& exchange_seconds);
