// A snapshot file opened, filled with the text of a block's columns, and closed.
#pragma once

#include <cstddef>

// heat2d appends, so that a second run adds a second copy to every file; a restarted study
// replaces what the interrupted run wrote under the same names.
enum class SnapshotMode { append, replace };

// Opens (creating when absent) the file named by "rank%i_%lf" from the two labels in the working
// directory. Returns the descriptor, or -errno.
int open_snapshot(const int& rank_label, double step_label, SnapshotMode mode);

// Writes all of `length` bytes; returns 0 or the errno value that stopped it.
int write_text(int fd, const char* text, std::size_t length);

// Writes the lines of columns [column_begin, column_end) of a block of `rows` rows, a chunk of
// columns at a time, so that a large block needs no second copy of itself as text. Returns 0 or
// the errno value of the first failed write.
int write_columns(int fd, double** field, const int& rows, const int& column_begin,
                  const int& column_end);

// Columns per chunk of text for a block of `rows` rows: about half a million values, at least one
// column.
int columns_per_chunk(const int& rows);

// Closes the file; returns `error`, or the error of closing when `error` is 0.
int close_snapshot(int fd, int error);
