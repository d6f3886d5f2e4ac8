// The time loop of one process, shared by heat2d and heat2d-study.
#pragma once

#include "output/snapshot_losses.hpp"

// Advances the strip held in T0 (sizeX rows of sizeY columns; T1 is the second layer, same shape)
// by `steps` explicit steps, trading edge rows with the neighbouring processes before each one.
// After every step whose number is a multiple of `every` (none when `every` is 0) the new layer is
// written as the snapshot labelled (rank, step); snapshots that cannot be written are counted in
// `losses`. On return T0 holds the strip after the last step. Seconds spent trading rows are added
// to exchange_seconds.
void advance(double**& T0, double**& T1, const int& sizeX, const int& sizeY, const double& dx,
             const double& dy, const double& dt, const int& rank, const int& process_count,
             const int& steps, const int& every, SnapshotLosses& losses, double& exchange_seconds);
