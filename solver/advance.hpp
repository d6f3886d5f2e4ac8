// A block advanced through the steps between two the caller writes: one step at a time, or in
// passes of several steps over ghost zones as deep, with the edges traded once per pass.
#pragma once

#include "solver/halo_exchange.hpp"
#include "solver/process_grid.hpp"
#include "solver/scheme.hpp"
#include "solver/team.hpp"

// Blocking trades every edge before the update; overlap posts the trades, updates the cells that
// need nothing from a neighbour while the edges travel, then waits and updates the rest.
enum class Exchange { blocking, overlap };

// What one process spent and sent.
struct StepCounts {
  double update_seconds = 0.0;
  double exchange_seconds = 0.0;  // trading edges, waiting included
  long long steps = 0;
  long long messages = 0;
  long long bytes = 0;
};

// Everything that advancing one block needs. A pass of k steps trades ghost zones k deep and then
// computes the block and the shrinking band of its neighbours' cells that those determine, so that
// the block trades once every k steps instead of every step.
struct Stepper {
  Block block;
  Scheme scheme;
  Halo halo;              // its shape's ghost width is `fuse`
  double** T0 = nullptr;  // the current layer
  double** T1 = nullptr;
  Exchange exchange = Exchange::blocking;
  int fuse = 1;          // steps per pass, at most
  int tile_width = 512;  // columns of a tile in passes of several steps
  Team team;
  bool stream = false;  // whether single steps write past the caches
  StepCounts counts;
};

// Allocates both layers with ghost zones `fuse` deep, zero, each row touched first by the thread
// that updates it in single steps, and learns how many threads the team really has. Returns false
// when the memory is not there.
bool allocate_layers(Stepper& stepper);

// Advances `steps` steps, in passes of at most `fuse` steps; T0 then holds the field. Collective
// over the halo's communicator.
void advance(Stepper& stepper, int steps);
