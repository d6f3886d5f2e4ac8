// The final field as one NumPy .npy file, written by all processes together with MPI-IO.
#pragma once

#include <string>

// Collective. Makes sure `path` can be written before the run: creates the file the field will go
// to first (`path` followed by ".part", renamed to `path` once complete). Returns an empty string
// or one line saying why it cannot be.
std::string prepare_save(const std::string& path, const int& rank);

// Collective. Each process writes its strip (sizeX rows of the NUMBER_OF_NODES_X x
// NUMBER_OF_NODES_Y field, starting at grid row row_begin) at its place after the header, then
// rank 0 renames the file into place, so the bytes do not depend on the number of processes and
// an interrupted run leaves no .npy that looks whole. Returns an empty string or what went wrong.
std::string save_npy(const std::string& path, double** T0, const int& sizeX, const int& row_begin,
                     const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y, const int& rank);

// Collective. Removes the file prepare_save created, when the run ends without saving.
void abandon_save(const std::string& path, const int& rank);
