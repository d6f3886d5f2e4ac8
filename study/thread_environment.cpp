// OMP_NUM_THREADS as the user set it, checked before the OpenMP runtime reads it.
#include "study/thread_environment.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

// The value refused, as given (cut short past this many bytes), and whether one was.
char refused[64];
bool was_refused = false;

// A whole number of at least 1, alone or as the first of OpenMP's comma-separated list, with the
// blanks the runtime allows around it.
bool names_threads(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  char* end = nullptr;
  const long threads = std::strtol(text, &end, 10);
  if (end == text || !std::isdigit(static_cast<unsigned char>(*text)) || threads < 1) return false;
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  return *end == '\0' || *end == ',';
}

// Runs from the program's pre-initialisation array: before the constructors of the shared
// libraries, the OpenMP runtime's among them, which reads the variable once and for all. The C
// library's own view of the environment is not set up yet, so this works on the array the
// program was given, which later becomes that view: a refused variable is taken out of it.
void check_omp_num_threads(int, char**, char** environment) {
  constexpr char NAME[] = "OMP_NUM_THREADS=";
  for (char** entry = environment; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, NAME, sizeof NAME - 1) != 0) continue;
    const char* value = *entry + sizeof NAME - 1;
    if (names_threads(value)) return;
    std::strncpy(refused, value, sizeof refused - 1);
    was_refused = true;
    for (char** later = entry; (later[0] = later[1]) != nullptr;) ++later;
    return;
  }
}

__attribute__((section(".preinit_array"),
               used)) void (*const check_early)(int, char**, char**) = check_omp_num_threads;

}  // namespace

std::string omp_num_threads_problem() {
  if (!was_refused) return "";
  std::string value = refused;
  // One line, whatever the variable holds.
  for (char& c : value) {
    if (std::iscntrl(static_cast<unsigned char>(c))) c = '?';
  }
  return "OMP_NUM_THREADS='" + value +
         "' is not a number of threads: a whole number of at least 1 (or leave it unset, and give "
         "--threads)";
}
