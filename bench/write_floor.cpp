// The floor of saving a field: the same number of bytes written to a new file in the same folder
// by one process with a plain write loop, as fast as a file gets written here. Prints seconds,
// from creating the file to closing it.
//
// Usage: write_floor FILE BYTES
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: write_floor FILE BYTES\n");
    return 2;
  }
  const long long total = std::atoll(argv[2]);
  // Eight megabytes a write: as fast as one process fills a file here.
  std::vector<char> chunk(8 << 20, '\1');
  const auto start = std::chrono::steady_clock::now();
  const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  for (long long done = 0; done < total;) {
    const long long size = total - done < static_cast<long long>(chunk.size())
                               ? total - done
                               : static_cast<long long>(chunk.size());
    const ssize_t written = ::write(fd, chunk.data(), size);
    if (written <= 0) {
      std::perror(argv[1]);
      return 1;
    }
    done += written;
  }
  ::close(fd);
  std::printf("%.6f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return 0;
}
