// The header of a NumPy .npy file holding a field of doubles.
#pragma once

#include <string>

// Version 1.0 header for a C-ordered float64 array of NUMBER_OF_NODES_X x NUMBER_OF_NODES_Y in
// this machine's byte order, padded with spaces so that the data starts on a 64-byte boundary.
std::string npy_header(const int& NUMBER_OF_NODES_X, const int& NUMBER_OF_NODES_Y);
