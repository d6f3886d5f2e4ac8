// Allocation of a field: an array of row pointers, each row an array of doubles of its own.
#pragma once

// Returns `rows` row pointers, each to `cols` zero-initialised doubles. Fields live until the
// process ends, so there is no matching release.
double** allocate_field(const int& rows, const int& cols);
