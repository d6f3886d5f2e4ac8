// Part of a row of the update eight cells at a time, for processors with AVX-512.
#pragma once

#include "solver/scheme.hpp"
#include "solver/span.hpp"

// Writes the span as cached_span does, with 512-bit vectors: each cell's left and right neighbours
// are shifted out of the vectors of the row that are loaded anyway, so that each eight cells take
// three loads, and 2 * centre is a multiplication, not the addition a compiler would make of it
// (the adders are what limits the update). The same IEEE operations in the same order, so the same
// bits. The pieces of eight cells that the span only partly covers are computed whole and stored
// in part. Reads the row up to 15 cells beyond the span on either side, which must be readable
// memory (a block's rows are; the values read there are not used). Returns false, having written
// nothing, where the processor lacks AVX-512 or the span has fewer than 8 cells to update.
bool wide_span(const RowSet& row, const Span& span, const Scheme& scheme);
