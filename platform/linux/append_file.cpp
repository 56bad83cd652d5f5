#include "platform/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

bool AppendToRegularFile(const std::string& path, const std::string& text, std::string& error) {
  // O_NONBLOCK: opening a FIFO for writing would otherwise wait for a reader, for ever.
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    error = errno == ENXIO ? "not a regular file" : std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    close(fd);
    return false;
  }
  // One write per record, so that records of two writers never interleave.
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? std::strerror(errno) : "nothing could be written";
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0 && errno != EINTR) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace platform
