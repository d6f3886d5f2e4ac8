// Plain copies of a field from one layer to the other: the memory floor the update is measured
// against. The fastest of them on a machine is the floor there.
#pragma once

// A loop the compiler vectorises (not a memcpy call: glibc switches to `rep movsb` for long rows,
// which on some processors runs at a fraction of the bandwidth).
void copy_loop(double** from, double** to, int rows, int cols);
// memcpy, row by row.
void copy_memcpy(double** from, double** to, int rows, int cols);
// Stores that bypass the caches, as the update uses for large layers (x86-64 only; elsewhere the
// loop).
void copy_streaming(double** from, double** to, int rows, int cols);
