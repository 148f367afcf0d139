// The registry as a tree of files: HKEY_LOCAL_MACHINE\A\B is the directory
// <root>/HKEY_LOCAL_MACHINE/A/B and each value is a file in it, named after the
// value and holding exactly its data bytes. The root is VELTOEAP_REGISTRY_ROOT,
// read at every open so tests can move it, else /var/lib/veltoeap/registry.
//
// The type is not stored: the module writes only REG_SZ, so set_value refuses
// other types and every value reads back as REG_SZ. Names are case-sensitive
// here, unlike Windows; the module always spells them the same way.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "abi/eap_abi.h"
#include "base/no_throw.h"
#include "frame/file_posix.h"
#include "frame/registry.h"

namespace velto::platform {

struct RegistryKey {
  std::string dir;
  RegAccess access;
};

namespace {

constexpr char kDefaultRoot[] = "/var/lib/veltoeap/registry";
constexpr char kHive[] = "HKEY_LOCAL_MACHINE";

uint32_t StatusFromErrno(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:  // a value name that is taken by a subkey
      return kErrorAccessDenied;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENAMETOOLONG:
      return kErrorInvalidParameter;
    default:
      return kErrorInternalError;
  }
}

// One path component: a key name or a value name. Anything that would leave
// the key's directory or alias another name is refused.
bool ValidComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// <root>/HKEY_LOCAL_MACHINE/<subkey with '\' as '/'>, or false for a bad subkey.
bool KeyDirectory(const char* subkey, std::string* dir) {
  const char* root = std::getenv("VELTOEAP_REGISTRY_ROOT");
  *dir = root != nullptr && *root != '\0' ? root : kDefaultRoot;
  *dir += '/';
  *dir += kHive;
  std::string_view rest(subkey);
  for (;;) {
    size_t cut = rest.find('\\');
    std::string_view part = rest.substr(0, cut);
    if (!ValidComponent(part)) return false;
    *dir += '/';
    *dir += part;
    if (cut == std::string_view::npos) return true;
    rest.remove_prefix(cut + 1);
  }
}

// mkdir -p with 0755 for every directory it makes.
uint32_t MakeDirectories(const std::string& dir) {
  int err = platform::MakeDirectories(dir, 0755);
  if (err == EEXIST) return kErrorAccessDenied;  // a value file is in the way
  return err != 0 ? StatusFromErrno(err) : kNoError;
}

bool ValidKey(const RegistryKey* key) { return key != nullptr; }

std::string ValuePath(const RegistryKey* key, const char* name) {
  std::string path = key->dir;
  path += '/';
  path += name;
  return path;
}

uint32_t OpenMachineKey(const char* subkey, RegAccess access, RegistryKey** key) {
  return NoThrow(kErrorNotEnoughMemory, [&]() -> uint32_t {
    if (subkey == nullptr || key == nullptr) return kErrorInvalidParameter;
    std::string dir;
    if (!KeyDirectory(subkey, &dir)) return kErrorInvalidParameter;

    struct stat st;
    if (stat(dir.c_str(), &st) != 0) return StatusFromErrno(errno);
    if (!S_ISDIR(st.st_mode)) return kErrorFileNotFound;
    int mode = access == RegAccess::kWrite ? (W_OK | X_OK) : (R_OK | X_OK);
    if (::access(dir.c_str(), mode) != 0) return StatusFromErrno(errno);

    *key = new RegistryKey{std::move(dir), access};
    return kNoError;
  });
}

uint32_t QueryValue(RegistryKey* key, const char* name, uint32_t* type, uint8_t* data,
                    uint32_t* size) {
  return NoThrow(kErrorNotEnoughMemory, [&]() -> uint32_t {
    if (!ValidKey(key) || name == nullptr || size == nullptr) return kErrorInvalidParameter;
    if (!ValidComponent(name)) return kErrorInvalidParameter;

    int fd = open(ValuePath(key, name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == EISDIR ? kErrorFileNotFound : StatusFromErrno(errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return kErrorFileNotFound;  // a subkey of the same name is no value
    }
    if (static_cast<uint64_t>(st.st_size) > UINT32_MAX) {
      close(fd);
      return kErrorInternalError;
    }
    uint32_t stored = static_cast<uint32_t>(st.st_size);
    if (type != nullptr) *type = kRegSz;
    if (data == nullptr || stored > *size) {
      // A null buffer asks for the size only, as RegQueryValueEx allows.
      bool fits = data == nullptr;
      *size = stored;
      close(fd);
      return fits ? kNoError : kErrorMoreData;
    }

    // Writers replace the file by rename, so this inode never changes under us.
    uint32_t got = 0;
    while (got < stored) {
      ssize_t n = read(fd, data + got, stored - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        int err = errno;
        close(fd);
        return StatusFromErrno(err);
      }
      if (n == 0) break;
      got += static_cast<uint32_t>(n);
    }
    close(fd);
    *size = got;
    return kNoError;
  });
}

uint32_t SetValue(RegistryKey* key, const char* name, uint32_t type, const uint8_t* data,
                  uint32_t size) {
  return NoThrow(kErrorNotEnoughMemory, [&]() -> uint32_t {
    if (!ValidKey(key) || name == nullptr) return kErrorInvalidParameter;
    if (key->access != RegAccess::kWrite) return kErrorAccessDenied;
    if (!ValidComponent(name) || type != kRegSz) return kErrorInvalidParameter;
    if (data == nullptr && size != 0) return kErrorInvalidParameter;

    // Temporary file in the same directory, flushed, then renamed over the
    // value: a reader sees the old bytes or the new ones, never a mix.
    std::string temp = key->dir + "/.velto-tmp-XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return StatusFromErrno(errno);
    bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, data, size) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && ok) {
      ok = false;
      err = errno;
    }
    if (ok && rename(temp.c_str(), ValuePath(key, name).c_str()) != 0) {
      ok = false;
      err = errno;
    }
    if (!ok) {
      unlink(temp.c_str());
      return StatusFromErrno(err);
    }

    // Makes the rename itself durable.
    int dir_fd = open(key->dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
      fsync(dir_fd);
      close(dir_fd);
    }
    return kNoError;
  });
}

uint32_t DeleteValue(RegistryKey* key, const char* name) {
  return NoThrow(kErrorNotEnoughMemory, [&]() -> uint32_t {
    if (!ValidKey(key) || name == nullptr) return kErrorInvalidParameter;
    if (key->access != RegAccess::kWrite) return kErrorAccessDenied;
    if (!ValidComponent(name)) return kErrorInvalidParameter;
    if (unlink(ValuePath(key, name).c_str()) != 0) {
      return errno == EISDIR ? kErrorFileNotFound : StatusFromErrno(errno);
    }
    return kNoError;
  });
}

void CloseKey(RegistryKey* key) { delete key; }

uint32_t CreateMachineKey(const char* subkey, RegistryKey** key) {
  return NoThrow(kErrorNotEnoughMemory, [&]() -> uint32_t {
    if (subkey == nullptr || key == nullptr) return kErrorInvalidParameter;
    std::string dir;
    if (!KeyDirectory(subkey, &dir)) return kErrorInvalidParameter;
    uint32_t status = MakeDirectories(dir);
    if (status != kNoError) return status;
    if (::access(dir.c_str(), R_OK | W_OK | X_OK) != 0) return StatusFromErrno(errno);
    *key = new RegistryKey{std::move(dir), RegAccess::kWrite};
    return kNoError;
  });
}

const RegistryApi kPosixRegistry = {OpenMachineKey, QueryValue, SetValue,
                                    DeleteValue,    CloseKey,   CreateMachineKey};

}  // namespace

Seam<RegistryApi> g_registry(&kPosixRegistry);

}  // namespace velto::platform
