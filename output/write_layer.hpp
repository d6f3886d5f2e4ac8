// Snapshot files: one block of the field appended to the file named "rank<label>_<step>".
#pragma once

// Appends the block's text to the file named by "rank%i_%lf" from the two labels in the working
// directory, creating it when absent. Returns 0, or the errno value that kept the snapshot from
// being written in full.
int write_layer(double** field, const int& rows, const int& cols, const int& rank_label,
                double step_label);
