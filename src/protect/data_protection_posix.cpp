// Per-user data protection with libsodium. Each user has a random 32-byte key
// in $XDG_DATA_HOME/veltoeap/key (default ~/.local/share/veltoeap/key), made on
// first use and readable by that user only; a sealed blob opens only with the
// same key and the same entropy.
//
// Sealed format: version (1 byte, 0x01) || nonce (24) || ciphertext || tag (16),
// XChaCha20-Poly1305-IETF. The associated data is version || has-entropy (0/1)
// || entropy, so "no entropy" and "some entropy" never open each other's blobs
// and a blob of another format version is refused before any decryption.
#include <fcntl.h>
#include <pwd.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/memory.h"
#include "frame/file_posix.h"
#include "protect/data_protection.h"
#include "protect/key_file_posix.h"

namespace velto::platform {
namespace {

constexpr uint8_t kFormatVersion = 0x01;
constexpr size_t kKeySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr size_t kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr size_t kHeaderSize = 1 + kNonceSize;
constexpr size_t kOverhead = kHeaderSize + kTagSize;
static_assert(kKeySize == 32 && kNonceSize == 24 && kTagSize == 16);

// The key on the stack; its holder wipes it with a ScopedWipe, whatever way
// the call leaves.
struct KeyBuffer {
  unsigned char bytes[kKeySize];
};

std::string HomeFromPasswd() {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  size_t scratch_size = hint > 0 ? static_cast<size_t>(hint) : 1024;
  for (;;) {
    MallocPtr<char> scratch(static_cast<char*>(std::malloc(scratch_size)));
    if (!scratch) return {};
    struct passwd entry;
    struct passwd* found = nullptr;
    int rc = getpwuid_r(geteuid(), &entry, scratch.get(), scratch_size, &found);
    if (rc == ERANGE && scratch_size <= (1u << 20)) {
      scratch_size *= 2;
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr) return {};
    return found->pw_dir;
  }
}

// Where the key folder is: the data root (absolute) and the folders below it
// that lead to the key. A relative XDG_DATA_HOME is ignored, as the XDG base
// directory rules ask; a relative home gives no root at all, since the key
// would then follow the current directory.
struct KeyLocation {
  std::string root;
  const char* below[3] = {};
};

bool FindKeyLocation(KeyLocation* where) {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    where->root = xdg;
    where->below[0] = "veltoeap";
    return true;
  }
  const char* home = std::getenv("HOME");
  where->root = home != nullptr && *home != '\0' ? home : HomeFromPasswd();
  if (where->root.empty() || where->root[0] != '/') return false;
  where->below[0] = ".local";
  where->below[1] = "share";
  where->below[2] = "veltoeap";
  return true;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(-1); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// A folder on the way to the key may be ours or root's, and no one else may
// write in it (a root-owned sticky folder such as /tmp excepted: there only
// an entry's owner can rename or remove it). The key folder itself must be
// ours and writable by us alone.
bool FolderIsSafe(int fd, bool is_key_folder) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (is_key_folder) return st.st_uid == geteuid() && (st.st_mode & 022) == 0;
  if (st.st_uid != geteuid() && st.st_uid != 0) return false;
  return (st.st_mode & 022) == 0 || (st.st_uid == 0 && (st.st_mode & S_ISVTX) != 0);
}

// Opens `name` below `parent` as a folder, making it (0700) when `create`
// allows and it is missing. Links are followed only where `follow` says: the
// data root is the user's own choice, the folders below it are ours.
int OpenFolder(int parent, const char* name, bool follow, bool create) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW);
  int fd = openat(parent, name, flags);
  if (fd < 0 && errno == ENOENT && create) {
    if (mkdirat(parent, name, 0700) != 0 && errno != EEXIST) return -1;
    fd = openat(parent, name, flags | O_NOFOLLOW);
  }
  return fd;
}

// Opens the key folder, checking every folder from / down to it; -1 when any
// of them is missing (and may not be made) or unsafe.
int OpenKeyFolder(bool create) {
  KeyLocation where;
  if (!FindKeyLocation(&where)) return -1;
  std::vector<std::pair<std::string, bool>> steps;  // name, links followed
  for (size_t start = 1; start <= where.root.size();) {
    size_t slash = where.root.find('/', start);
    if (slash == std::string::npos) slash = where.root.size();
    std::string name = where.root.substr(start, slash - start);
    if (!name.empty() && name != ".") steps.emplace_back(std::move(name), true);
    start = slash + 1;
  }
  for (const char* name : where.below) {
    if (name != nullptr) steps.emplace_back(name, false);
  }
  Fd current(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (current.get() < 0 || !FolderIsSafe(current.get(), false)) return -1;
  for (size_t i = 0; i < steps.size(); ++i) {
    const bool last = i + 1 == steps.size();
    current.Reset(OpenFolder(current.get(), steps[i].first.c_str(), steps[i].second, create));
    if (current.get() < 0 || !FolderIsSafe(current.get(), last)) return -1;
  }
  return current.Release();
}

enum class KeyState { kLoaded, kMissing, kRefused };

// A key file we did not make the way we make it (other owner, shared
// permissions, wrong size, a link, a FIFO or device) is refused rather than
// used or replaced. O_NONBLOCK: opening a planted FIFO must not wait for a
// writer.
KeyState LoadKey(int folder, KeyBuffer* key) {
  int fd = openat(folder, "key", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? KeyState::kMissing : KeyState::kRefused;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            (st.st_mode & 077) == 0 && st.st_size == static_cast<off_t>(kKeySize) &&
            ReadAll(fd, key->bytes, kKeySize);
  close(fd);
  return ok ? KeyState::kLoaded : KeyState::kRefused;
}

// Writes a fresh key into a new file `name` (which must not exist yet).
bool WriteNewKeyFile(int folder, const char* name, const KeyBuffer& key) {
  int fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, key.bytes, kKeySize) && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (!ok) unlinkat(folder, name, 0);
  return ok;
}

int LinkAt(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  return linkat(from_dir, from, to_dir, to, flags);
}

// Puts a fresh key in place. The key is written under a temporary name and
// linked as "key": a link never replaces a file, so of two racing processes
// the first key wins and both use it. Where the file system has no hard
// links, the key is written straight into "key" made with O_EXCL: a process
// racing that first write finds a short file and fails that one call, but no
// two keys are ever used.
bool CreateKey(int folder, KeyBuffer* key) {
  randombytes_buf(key->bytes, kKeySize);
  char temp[32];
  std::snprintf(temp, sizeof temp, ".key-%08x", randombytes_random());
  if (!WriteNewKeyFile(folder, temp, *key)) return false;
  int linked = g_key_link->link_at(folder, temp, folder, "key", 0);
  int err = errno;
  unlinkat(folder, temp, 0);
  if (linked != 0) {
    if (err == EEXIST) return LoadKey(folder, key) == KeyState::kLoaded;
    if (!WriteNewKeyFile(folder, "key", *key)) {
      return errno == EEXIST && LoadKey(folder, key) == KeyState::kLoaded;
    }
  }
  fsync(folder);
  return true;
}

// Reads the user's key, making it first when `create` allows. Read on every
// call so that a change of XDG_DATA_HOME takes effect at once.
bool GetKey(bool create, KeyBuffer* key) {
  try {
    Fd folder(OpenKeyFolder(create));
    if (folder.get() < 0) return false;
    switch (LoadKey(folder.get(), key)) {
      case KeyState::kLoaded:
        return true;
      case KeyState::kRefused:
        return false;
      case KeyState::kMissing:
        return create && CreateKey(folder.get(), key);
    }
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// version || has-entropy || entropy, malloc'd; the caller wipes and frees it.
// Empty entropy counts as none, as it does for CryptProtectData.
uint8_t* BuildAssociatedData(const uint8_t* entropy, uint32_t entropy_size, size_t* size) {
  size_t extra = entropy != nullptr ? entropy_size : 0;
  if (extra > SIZE_MAX - 2) return nullptr;
  auto* ad = static_cast<uint8_t*>(std::malloc(2 + extra));
  if (ad == nullptr) return nullptr;
  ad[0] = kFormatVersion;
  ad[1] = extra != 0 ? 1 : 0;
  if (extra != 0) std::memcpy(ad + 2, entropy, extra);
  *size = 2 + extra;
  return ad;
}

bool Protect(const uint8_t* data, uint32_t size, const uint8_t* entropy, uint32_t entropy_size,
             ProtectedBlob* out) {
  if (out == nullptr || (data == nullptr && size != 0)) return false;
  if (size > UINT32_MAX - kOverhead) return false;
  if (sodium_init() < 0) return false;

  KeyBuffer key;
  const ScopedWipe wipe_key(key);
  if (!GetKey(true, &key)) return false;
  size_t ad_size = 0;
  uint8_t* ad = BuildAssociatedData(entropy, entropy_size, &ad_size);
  if (ad == nullptr) return false;

  size_t sealed_size = kOverhead + size;
  auto* sealed = static_cast<uint8_t*>(std::malloc(sealed_size));
  if (sealed == nullptr) {
    WipeAndFree(ad, ad_size);
    return false;
  }
  sealed[0] = kFormatVersion;
  randombytes_buf(sealed + 1, kNonceSize);
  static const uint8_t kNothing = 0;  // libsodium is not handed a null message
  unsigned long long cipher_size = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(sealed + kHeaderSize, &cipher_size,
                                             size != 0 ? data : &kNothing, size, ad, ad_size,
                                             nullptr, sealed + 1, key.bytes);
  WipeAndFree(ad, ad_size);

  out->data = sealed;
  out->size = static_cast<uint32_t>(sealed_size);
  return true;
}

bool Unprotect(const uint8_t* data, uint32_t size, const uint8_t* entropy, uint32_t entropy_size,
               bool, ProtectedBlob* out) {
  // Only the sealed text is kept, so the flag that fetches the platform's
  // label has nothing to fetch.
  if (out == nullptr || data == nullptr || size < kOverhead) return false;
  if (data[0] != kFormatVersion) return false;
  if (sodium_init() < 0) return false;

  KeyBuffer key;
  const ScopedWipe wipe_key(key);
  if (!GetKey(false, &key)) return false;  // no key yet: nothing of ours can open
  size_t ad_size = 0;
  uint8_t* ad = BuildAssociatedData(entropy, entropy_size, &ad_size);
  if (ad == nullptr) return false;

  size_t plain_size = size - kOverhead;
  // At least one byte, so that an empty plain text still comes back non-null.
  auto* plain = static_cast<uint8_t*>(std::malloc(plain_size != 0 ? plain_size : 1));
  if (plain == nullptr) {
    WipeAndFree(ad, ad_size);
    return false;
  }
  unsigned long long opened_size = 0;
  int rc = crypto_aead_xchacha20poly1305_ietf_decrypt(plain, &opened_size, nullptr,
                                                      data + kHeaderSize, size - kHeaderSize, ad,
                                                      ad_size, data + 1, key.bytes);
  WipeAndFree(ad, ad_size);
  if (rc != 0 || opened_size != plain_size) {
    WipeAndFree(plain, plain_size);
    return false;
  }
  out->data = plain;
  out->size = static_cast<uint32_t>(plain_size);
  return true;
}

void FreeBlob(ProtectedBlob* blob) {
  if (blob == nullptr) return;
  WipeAndFree(blob->data, blob->size);
  *blob = ProtectedBlob{};
}

const DataProtectionApi kPosixDataProtection = {Protect, Unprotect, FreeBlob};
const KeyLinkApi kPosixKeyLink = {LinkAt};

}  // namespace

Seam<DataProtectionApi> g_data_protection(&kPosixDataProtection);
Seam<KeyLinkApi> g_key_link(&kPosixKeyLink);

}  // namespace velto::platform
