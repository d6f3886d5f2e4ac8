// Keeping a file-size limit from killing the process.
#include "common/catch_file_size_limit.hpp"

#include <csignal>

namespace {
// A caught signal, unlike an ignored one, is reset to its default in the programs this process
// starts (MPI may start a helper), so only this process's own writes turn into EFBIG.
extern "C" void on_file_size_limit(int) {}
}  // namespace

void catch_file_size_limit() {
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, on_file_size_limit);
#endif
}
