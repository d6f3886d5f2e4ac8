// Appending text to a snapshot file, checking every step.
#pragma once

#include <cstddef>

// Opens `name` for appending (creating it when absent) and writes the `length` bytes of `text`
// `times` times over, one write each. Returns 0, or the errno value of the step that failed.
int append_text(const char* name, const char* text, std::size_t length, std::size_t times = 1);
