#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eapcfg_platform.h"
#include "frame/file_posix.h"

namespace velto::tools {
namespace {

std::string Octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// What is wrong with a key folder or file that exists, or "".
std::string Refused(const std::string& path, const struct stat& st, bool folder) {
  if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    return path + (folder ? " is not a folder" : " is not a regular file");
  }
  if (st.st_uid != geteuid()) {
    return path + " belongs to user " + std::to_string(st.st_uid) + ", not to you (" +
           std::to_string(geteuid()) + ")";
  }
  if (folder && (st.st_mode & 022) != 0) return path + " has mode " + Octal(st.st_mode) + ": others can write it";
  if (!folder && (st.st_mode & 077) != 0) {
    return path + " has mode " + Octal(st.st_mode) + ": it must be 0600";
  }
  return {};
}

}  // namespace

void InitTool() { signal(SIGXFSZ, SIG_IGN); }

bool ReplaceFileWhole(const std::string& path, const void* data, size_t size, std::string* error) {
  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(temporary.data());  // mode 0600
  if (fd < 0) {
    *error = "cannot create a file in " + Folder(path) + ": " + std::strerror(errno);
    return false;
  }
  bool ok = velto::platform::WriteAll(fd, data, size) && fsync(fd) == 0;
  int err = errno;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) {
    int folder = open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
      fsync(folder);  // the rename itself on the disk
      close(folder);
    }
    return true;
  }
  if (ok) err = errno;
  unlink(temporary.c_str());
  *error = "cannot write " + path + ": " + std::strerror(err);
  return false;
}

// The module keeps its key in $XDG_DATA_HOME/veltoeap/key (an absolute
// XDG_DATA_HOME only), else in $HOME/.local/share/veltoeap/key.
std::string SealingFailureReason() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string base;
  std::string note;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    if (xdg != nullptr && xdg[0] != '\0') note = " (XDG_DATA_HOME is relative and so not used)";
    if (home == nullptr || home[0] == '\0') return "no home folder: HOME is not set" + note;
    if (home[0] != '/') return "HOME (" + std::string(home) + ") is not an absolute path" + note;
    base = std::string(home) + "/.local/share";
  }
  std::string folder = base + "/veltoeap", key = folder + "/key";
  struct stat st;
  if (lstat(folder.c_str(), &st) == 0) {
    if (std::string reason = Refused(folder, st, true); !reason.empty()) return reason + note;
    if (lstat(key.c_str(), &st) == 0) {
      if (std::string reason = Refused(key, st, false); !reason.empty()) return reason + note;
      if (st.st_size != 32) {
        return key + " is " + std::to_string(st.st_size) + " bytes, not a 32-byte key" + note;
      }
      return "the key " + key + " was refused" + note;
    }
    if (access(folder.c_str(), W_OK) != 0) {
      return "no key in " + folder + ", and it cannot be made there: " + std::strerror(errno) + note;
    }
  } else {
    // The nearest folder that exists is where the key folder would be made.
    std::string existing = base;
    while (existing.size() > 1 && access(existing.c_str(), F_OK) != 0) existing = Folder(existing);
    if (access(existing.c_str(), W_OK) != 0) {
      return "no key folder " + folder + ", and " + existing + " is not writable: " +
             std::strerror(errno) + note;
    }
  }
  return "the data protection refused (key " + key + ")" + note;
}

std::string DialogUnavailableReason() { return {}; }

}  // namespace velto::tools
