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
#include <string>

#include "frame/memory.h"
#include "protect/data_protection.h"

namespace velto::platform {
namespace {

constexpr uint8_t kFormatVersion = 0x01;
constexpr size_t kKeySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr size_t kNonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr size_t kTagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr size_t kHeaderSize = 1 + kNonceSize;
constexpr size_t kOverhead = kHeaderSize + kTagSize;
static_assert(kKeySize == 32 && kNonceSize == 24 && kTagSize == 16);

// The key on the stack, wiped whatever way the call leaves.
struct KeyBuffer {
  unsigned char bytes[kKeySize];
  KeyBuffer() = default;
  ~KeyBuffer() { sodium_memzero(bytes, sizeof bytes); }
  KeyBuffer(const KeyBuffer&) = delete;
  KeyBuffer& operator=(const KeyBuffer&) = delete;
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

// Empty when there is no usable home. A relative XDG_DATA_HOME is ignored, as
// the XDG base directory rules ask.
std::string KeyDirectory() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string home_dir = home != nullptr && *home != '\0' ? home : HomeFromPasswd();
    if (home_dir.empty()) return {};
    base = home_dir + "/.local/share";
  }
  return base + "/veltoeap";
}

// mkdir -p; the directories it makes are the user's alone.
bool MakePrivateDirectories(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string prefix = dir.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0) {
      struct stat st;
      if (errno != EEXIST || stat(prefix.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    if (slash == std::string::npos) return true;
  }
}

bool ReadAll(int fd, unsigned char* data, size_t size) {
  while (size != 0) {
    ssize_t n = read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
  while (size != 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

enum class KeyState { kLoaded, kMissing, kRefused };

// A key file we did not make the way we make it (other owner, shared
// permissions, wrong size, a link) is refused rather than used or replaced.
KeyState LoadKey(const std::string& path, KeyBuffer* key) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? KeyState::kMissing : KeyState::kRefused;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
            (st.st_mode & 077) == 0 && st.st_size == static_cast<off_t>(kKeySize) &&
            ReadAll(fd, key->bytes, kKeySize);
  close(fd);
  return ok ? KeyState::kLoaded : KeyState::kRefused;
}

// Writes a fresh key under a temporary name and links it into place: link
// never replaces an existing file, so of two racing processes the first key
// wins and both use it.
bool CreateKey(const std::string& dir, const std::string& path, KeyBuffer* key) {
  std::string temp = dir + "/.key-XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  randombytes_buf(key->bytes, kKeySize);
  bool ok = fchmod(fd, 0600) == 0 && WriteAll(fd, key->bytes, kKeySize) && fsync(fd) == 0;
  if (close(fd) != 0) ok = false;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  int linked = link(temp.c_str(), path.c_str());
  int err = errno;
  unlink(temp.c_str());
  if (linked != 0) {
    return err == EEXIST && LoadKey(path, key) == KeyState::kLoaded;
  }
  int dir_fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd >= 0) {
    fsync(dir_fd);
    close(dir_fd);
  }
  return true;
}

// Reads the user's key, making it first when `create` allows. Read on every
// call so that a change of XDG_DATA_HOME takes effect at once.
bool GetKey(bool create, KeyBuffer* key) {
  try {
    std::string dir = KeyDirectory();
    if (dir.empty()) return false;
    std::string path = dir + "/key";
    switch (LoadKey(path, key)) {
      case KeyState::kLoaded:
        return true;
      case KeyState::kRefused:
        return false;
      case KeyState::kMissing:
        return create && MakePrivateDirectories(dir) && CreateKey(dir, path, key);
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

}  // namespace

Seam<DataProtectionApi> g_data_protection(&kPosixDataProtection);

}  // namespace velto::platform
