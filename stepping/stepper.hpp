// What the time loop asks of a method that advances the field: the explicit update, or an
// implicit method with its linear solves.
#pragma once

#include <string>

#include "solver/team.hpp"

// What one process spent and sent.
struct StepCounts {
  double update_seconds = 0.0;    // computing, threads included
  double exchange_seconds = 0.0;  // exchanging halos, waiting included
  long long steps = 0;
  long long messages = 0;
  long long bytes = 0;
};

class Stepper {
 public:
  virtual ~Stepper() = default;

  // Bytes everything the method holds takes, before it is allocated (for the memory check).
  virtual double memory_bytes() const = 0;

  // Allocates everything the method holds, zero, each row touched first by the thread that
  // updates it. Returns false when the memory is not there.
  virtual bool allocate() = 0;

  // The layer of the block (from allocate_block) that holds the current field: filled by the
  // caller before the first step, and holding the field after every advance.
  virtual double** field() = 0;

  // Advances `steps` steps from the `done` already taken (a method may take its first steps
  // differently). Collective over the block's communicator. Returns an empty string, or one line
  // saying why the field could not be advanced (the same on every process).
  virtual std::string advance(int done, int steps) = 0;

  virtual const StepCounts& counts() const = 0;
  virtual const Team& team() const = 0;
};
