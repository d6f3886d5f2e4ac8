// Numbers and counts put into heat2d-study's messages and summary.
#pragma once

#include <string>

// One double formatted with a printf pattern that takes exactly one, e.g. "--dt %g at most".
std::string format(const char* pattern, double value);

// "1 process", "2 processes": a count with its noun.
std::string count_of(long long count, const char* noun, const char* plural);
