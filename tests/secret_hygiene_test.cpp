// Secret hygiene: the product (loaded as the host loads it), the terminal dialog library and
// simcore's card logic handle a password and a PIN while this program's free and realloc look
// into each block let go of: none may still hold either, as 8-bit text or as UTF-16.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "abi/authdialogs.h"
#include "base/text.h"
#include "doubles/sibling_doubles_client.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "frame/registry.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "simcore/sim_card.h"
#include "support/test_env.h"
#include "support/xml_test_util.h"
#include "ui/dialog_profile.h"
#include "vsim/virtual_sim.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void __libc_free(void* block);

namespace velto {
namespace {

constexpr char kPassword[] = "Pw-hygiene-7Qz!";
constexpr char kPin[] = "93651827";
constexpr char16_t kPasswordWide[] = u"Pw-hygiene-7Qz!";
constexpr char16_t kPinWide[] = u"93651827";

struct Secret { const void* bytes; size_t size; const char* name; };
constexpr Secret kSecrets[] = {
    {kPassword, sizeof kPassword - 1, "password"}, {kPin, sizeof kPin - 1, "PIN"},
    {kPasswordWide, sizeof kPasswordWide - 2, "UTF-16 password"},
    {kPinWide, sizeof kPinWide - 2, "UTF-16 PIN"}};
constexpr int kMaxHits = 64;
struct Hit { const char* name; void* caller; } g_hits[kMaxHits];
std::atomic<int> g_hit_count{0};
std::atomic<bool> g_watching{false};

// Runs inside free: no allocation. Every block is zeroed as it goes, watched
// or not, so no stale copy shows up in the unused tail of a later block.
void Release(void* block, void* caller) {
  if (block == nullptr) return;
  const size_t size = malloc_usable_size(block);
  for (const Secret& s : kSecrets) {
    if (!g_watching.load() || memmem(block, size, s.bytes, s.size) == nullptr) continue;
    if (int slot = g_hit_count.fetch_add(1); slot < kMaxHits) g_hits[slot] = {s.name, caller};
  }
  std::memset(block, 0, size);
  __libc_free(block);
}

// What the dialog double types before it confirms (null: left as it is).
struct Typed { const char* password = nullptr; const char* pin = nullptr; };

int RunDialog(void* context, int, _VELTO_WLAN_PROFILE_V120* p, int, int* changed) {
  const Typed& typed = *static_cast<const Typed*>(context);
  CopyTextField(p->user_name, "alice"), CopyTextField(p->reader_name, "Reader 0");
  if (typed.password != nullptr) CopyTextField(p->password_text, typed.password);
  if (typed.pin != nullptr) CopyTextField(p->pin_text, typed.pin);
  if (changed != nullptr) *changed = typed.password != nullptr;
  return 1;
}

class SecretHygieneTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = test::MakeTempDir();
    for (auto [name, folder] : {std::pair{"HOME", ""}, {"XDG_DATA_HOME", "/data"},
                                {"VELTOEAP_REGISTRY_ROOT", "/registry"},
                                {"VELTOEAP_COMMON_FILES", "/common"}}) {
      test::SetEnvVar(name, (root_ + folder).c_str());
    }
    // The installation's library directory holds the doubles; the module reads it as it loads.
    platform::RegistryKey* key = nullptr;
    ASSERT_EQ(platform::g_registry->create_machine_key(platform::kVeltoWirelessKey, &key), 0u);
    const std::string dir = test::SiblingDoublesDir();
    platform::g_registry->set_value(key, "TamrixBinDir", platform::kRegSz,
                                    reinterpret_cast<const uint8_t*>(dir.c_str()),
                                    static_cast<uint32_t>(dir.size() + 1));
    platform::g_registry->close_key(key);
    std::string error;
    ASSERT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadIfNeeded, &sim_, &error) &&
                test::FindAuthDialogsDouble(test::SiblingLookup::kLoadIfNeeded, &dialogs_, &error))
        << error;
    module_ = test::LoadModule(VELTO_MODULE_NAME);
    ASSERT_NE(module_, nullptr) << dlerror();
  }
  static void TearDownTestSuite() { test::UnloadModule(module_), test::RemoveTree(root_); }
#define ENTRY(name) reinterpret_cast<decltype(name)*>(test::ModuleEntry(module_, #name))

  // Runs `step` under the watch: a line for each block freed still holding a secret.
  template <typename Step>
  static std::string SecretsFreedDuring(const Step& step) {
    g_hit_count = 0;
    g_watching = true;
    step();
    g_watching = false;
    std::string found;  // the SIM double keeps what it is handed: its own frees do not count
    Dl_info sim{};
    dladdr(reinterpret_cast<void*>(sim_.reset), &sim);
    for (int i = 0; i < std::min(g_hit_count.load(), kMaxHits); ++i) {
      Dl_info image{};
      if (dladdr(g_hits[i].caller, &image) != 0 && image.dli_fbase == sim.dli_fbase) continue;
      found += g_hits[i].name + std::string(" freed from ") + (image.dli_fname ?: "?") + "\n";
    }
    return found;
  }

  static inline std::string root_;
  static inline void* module_ = nullptr;
  static inline test::SimcoreDouble sim_;
  static inline test::AuthDialogsDouble dialogs_;
};

// The watch sees a secret, in either form, freed unwiped (here by the test);
// EapPeerFreeMemory wipes what the host gives back (a user record holds the PIN).
TEST_F(SecretHygieneTest, WatchSeesASecretFreedAndFreeMemoryWipes) {
  auto free_memory = ENTRY(EapPeerFreeMemory);
  ASSERT_NE(free_memory, nullptr);
  auto wide_pin = [] { return std::memcpy(std::malloc(sizeof kPinWide), kPinWide, sizeof kPinWide); };
  char* narrow = strdup(kPassword);
  void* wide = wide_pin();  // made outside the watch, or the pair may be optimised away
  const std::string found = SecretsFreedDuring([&] { std::free(narrow), std::free(wide); });
  EXPECT_TRUE(found.starts_with("password freed") && found.find("\nUTF-16 PIN freed") != found.npos &&
              std::count(found.begin(), found.end(), '\n') == 2) << found;
  EXPECT_EQ(SecretsFreedDuring([&] { free_memory(strdup(kPassword)), free_memory(wide_pin()); }), "");
}

// Import of a plain password, one split by CDATA, a comment and a reference,
// and a sealed one; export of a stored sealed and a plain one; the settings
// dialog keeping a stored sealed password and with one typed; the identity
// dialog with a password, and a PIN wrong once; credential fields typed.
TEST_F(SecretHygieneTest, ModuleExports) {
  auto import = ENTRY(EapPeerConfigXml2Blob);
  auto export_ = ENTRY(EapPeerConfigBlob2Xml);
  auto config_ui = ENTRY(EapPeerInvokeConfigUI);
  auto identity_ui = ENTRY(EapPeerInvokeIdentityUI);
  auto user_blob = ENTRY(EapPeerQueryUserBlobFromCredentialInputFields);
  ASSERT_TRUE(import && export_ && config_ui && identity_ui && user_blob);
  const std::string head =
      "<Config><EapTtls><Phase2Type>PAP</Phase2Type><credSaved><identity>alice</identity><password";
  const std::string tail = "</password></credSaved></EapTtls></Config>";
  char* sealed = EncryptProfileIdentityData(kPassword);
  const test::XmlDocument documents[] = {
      test::ParseXml(head + ">" + kPassword + tail),
      test::ParseXml(head + ">Pw-hyg<![CDATA[iene-7Qz!]]><!--c-->&#45;and-more" + tail),
      test::ParseXml(head + " encrypted='true'>" + sealed + tail)};
  std::free(sealed);
  cdata stored{}, sim{};
  MakeDefaultRecord(kEapTypeTtls, &stored);
  MakeDefaultRecord(kEapTypeSim, &sim);
  cdata plain = stored, ttls = stored;
  CopyTextField(plain.password, kPassword);
  sealed = CryptProtectCustom(kPassword);
  CopyTextField(stored.password, sealed);
  std::free(sealed);
  stored.cred_source = kCredSaved;
  stored.flags |= kFlagPasswordCustomProtected;
  std::u16string texts[] = {u"Username", u"alice", u"Password", kPasswordWide};
  EAP_CONFIG_INPUT_FIELD_DATA fields[] = {{sizeof *fields, {}, 0, texts[0].data(), texts[1].data(), 0, 0},
                                          {sizeof *fields, {}, 0, texts[2].data(), texts[3].data(), 0, 0}};
  EapConfigInputFieldArray typed_fields = {0, 2, fields};
  enum Call { kImport, kExport, kConfig, kIdentity, kFields };
  struct Case { Call call; cdata* record; Typed typed = {}; const test::XmlDocument* doc = nullptr; };
  const Case cases[] = {
      {kImport, &ttls, {}, &documents[0]}, {kImport, &ttls, {}, &documents[1]},
      {kImport, &ttls, {}, &documents[2]}, {kExport, &stored}, {kExport, &plain},
      {kConfig, &stored}, {kConfig, &stored, {kPassword}}, {kIdentity, &ttls, {kPassword}},
      {kIdentity, &sim, {nullptr, kPin}}, {kFields, &ttls}};
  Typed typed{};
  dialogs_.set_hook(RunDialog, &typed);
  for (const Case& c : cases) {
    const EAP_METHOD_TYPE method = {{static_cast<uint8_t>(c.record->eap_type), 0, 0}, 0};
    BYTE* record = reinterpret_cast<BYTE*>(c.record);
    typed = c.typed;
    if (c.typed.pin != nullptr) sim_.push_imsi(kSwcPinWrong, ""), sim_.push_imsi(0, "001010123456789");
    // What the export hands out is the host's: freed after the watch.
    BYTE* blob = nullptr;
    DWORD size = 0, status = 1;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    VeltoXmlDocument* document = nullptr;
    const std::string found = SecretsFreedDuring([&] {
      switch (c.call) {
        case kImport: status = import(0, method, c.doc->get(), &blob, &size, &error); break;
        case kExport: status = export_(0, method, record, kCdataSize, &document, &error); break;
        case kConfig:
          status = config_ui(&method, nullptr, 0, kCdataSize, record, &size, &blob, &error);
          break;
        case kIdentity:
          status = identity_ui(&method, 0, nullptr, kCdataSize, record, 0, nullptr, &size, &blob,
                               &identity, &error);
          break;
        case kFields:
          status = user_blob(nullptr, method, 0, kCdataSize, record, &typed_fields, &size, &blob, 0);
      }
    });
    EXPECT_EQ(found + "status " + std::to_string(status), "status 0") << "case " << &c - cases;
    std::free(blob), std::free(identity), std::free(error), test::XmlDocument{document};
  }
  dialogs_.set_hook(nullptr, nullptr);
}

// The terminal dialog library answered from a file (a password and a PIN,
// then a file that does not parse), and typed on a terminal.
TEST_F(SecretHygieneTest, TerminalDialogLibrary) {
  void* library = dlopen((test::ProductDir() + "/authdialogs.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto create_1x = reinterpret_cast<Create1XDlgFn*>(dlsym(library, "Create1XDlg"));
  auto create_sc = reinterpret_cast<CreateScDlgFn*>(dlsym(library, "CreateScDlg"));
  ASSERT_TRUE(create_1x && create_sc);
  VELTO_SIM_LIST sims{};
  sims.count = 1;
  CopyTextField(sims.entries[0].reader_name, "R");
  sims.entries[0].pin_enabled = 1;
  const std::string path = root_ + "/answers";
  test::SetEnvVar("VELTOEAP_DIALOG_ANSWERS", path.c_str());
  for (const std::string& answers :
       {"[config]\nsource=saved\ninner=PAP\nuser=alice\npassword=" + std::string(kPassword) +
            "\n[smartcard]\nreader=R\npin=" + kPin + "\n",
        "[config]\npassword=" + std::string(kPassword) + "\npin=" + kPin + "\nbroken\n"}) {
    std::ofstream(path) << answers;
    _VELTO_WLAN_PROFILE_V120 profile;
    InitDialogProfile(&profile);
    profile.method_kind = kProfileMethodTtls;
    int changed = 0, confirmed = 0;
    const std::string found = SecretsFreedDuring([&] {
      confirmed = create_1x(12, &profile, 0, 0, nullptr, &changed) +
                  create_sc(&profile, 150, 0, nullptr, nullptr, &sims);
    });
    EXPECT_EQ(found + std::to_string(confirmed), answers.find("broken") == std::string::npos ? "2" : "0");
  }
  // Typed on a child's controlling pseudo-terminal, outgrowing the first line buffers.
  test::SetEnvVar("VELTOEAP_DIALOG_ANSWERS", "");
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
  const std::string typed = "alice\n\n" + std::string(kPassword) + kPassword + kPassword + "\ny\n";
  ASSERT_EQ(write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
  pid_t child = fork();
  if (child == 0) {
    setsid();
    int terminal = open(ptsname(master), O_RDWR);  // becomes the controlling terminal
    _VELTO_WLAN_PROFILE_V120 profile;
    InitDialogProfile(&profile);
    int confirmed = 0;
    std::string found = SecretsFreedDuring([&] { confirmed = create_1x(3, &profile, 0, 0, 0, 0); });
    std::fprintf(stderr, "%s", found.c_str());
    _exit(terminal >= 0 && confirmed == 1 && found.empty() ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "typed on the terminal";
  close(master), dlclose(library);
}

// simcore's PIN read (its card logic, linked into this program) against the
// virtual SIM: the VERIFY command carries the PIN digits.
TEST_F(SecretHygieneTest, SimcorePinRead) {
  struct Channel : sim::CardChannel {
    test::VirtualSim* card;
    bool Transmit(const sim::Bytes& command, sim::Bytes* response) override {
      *response = card->Process(command);
      return true;
    }
  } channel;
  for (auto kind : {test::VirtualSimConfig::Kind::kGsmSim, test::VirtualSimConfig::Kind::kUsim}) {
    test::VirtualSim card({.kind = kind, .pin = kPin});
    channel.card = &card;
    sim::CardInfo info = sim::IdentifyCard(channel);
    std::string imsi;
    bool sent = false;
    const std::string found = SecretsFreedDuring([&] { sim::ReadImsi(channel, info, kPin, &imsi, &sent); });
    EXPECT_EQ(found + (sent ? "sent" : "not sent"), "sent");
  }
}

}  // namespace
}  // namespace velto

// Always moves (or frees), so the old block goes through Release; operator delete ends in free.
extern "C" void* realloc(void* block, size_t size) noexcept {
  if (block == nullptr) return __libc_malloc(size);
  void* moved = size != 0 ? __libc_malloc(size) : nullptr;
  if (moved != nullptr) std::memcpy(moved, block, std::min(size, malloc_usable_size(block)));
  if (moved != nullptr || size == 0) velto::Release(block, __builtin_return_address(0));
  return moved;
}
extern "C" void free(void* block) noexcept { velto::Release(block, __builtin_return_address(0)); }
