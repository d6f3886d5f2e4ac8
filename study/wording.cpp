// Numbers and counts put into heat2d-study's messages and summary.
#include "study/wording.hpp"

#include <cstdio>

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

std::string count_of(long long count, const char* noun, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? noun : plural);
}
