#include "frame/file_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velto::platform {

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size != 0) {
    ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size) {
  auto* bytes = static_cast<unsigned char*>(data);
  while (size != 0) {
    ssize_t n = read(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int MakeDirectories(const std::string& path, mode_t mode) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), mode) != 0) {
      int err = errno;
      struct stat st;
      if (err != EEXIST) return err;
      if (stat(prefix.c_str(), &st) != 0) return errno;
      if (!S_ISDIR(st.st_mode)) return EEXIST;
    }
    if (slash == std::string::npos) return 0;
  }
}

}  // namespace velto::platform
