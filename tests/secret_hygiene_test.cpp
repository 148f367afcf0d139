// Secret hygiene: the product, loaded as the host loads it, is run through
// every export that handles a password or a PIN, while the free watch looks
// into each block the module lets go of. None may still hold the password or
// the PIN the test put in, as 8-bit text or as UTF-16. Blocks handed out to
// the host are the host's, and the test frees them itself.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "doubles/sibling_doubles_client.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "frame/registry.h"
#include "protect/custom_protect.h"
#include "protect/profile_protect.h"
#include "simcore/sim_card.h"
#include "support/free_watch.h"
#include "support/test_env.h"
#include "support/xml_test_util.h"
#include "abi/authdialogs.h"
#include "ui/dialog_profile.h"
#include "vsim/virtual_sim.h"

namespace velto {
namespace {

constexpr char kPassword[] = "Pw-hygiene-7Qz!";
constexpr char kPin[] = "93651827";
constexpr char16_t kPasswordWide[] = u"Pw-hygiene-7Qz!";
constexpr char16_t kPinWide[] = u"93651827";

using Dialog = std::function<int(int dialog, _VELTO_WLAN_PROFILE_V120*, int* password_changed)>;

int RunDialog(void* context, int dialog, _VELTO_WLAN_PROFILE_V120* profile, int, int* changed) {
  return (*static_cast<Dialog*>(context))(dialog, profile, changed);
}

EAP_METHOD_TYPE Method(uint8_t type) { return {{type, 0, 0}, 0}; }

cdata Record(uint8_t type) {
  cdata record{};
  MakeDefaultRecord(type, &record);
  return record;
}

// A saved TTLS record whose password is in the stored sealed form.
cdata SealedTtlsRecord() {
  cdata record = Record(kEapTypeTtls);
  record.cred_source = kCredSaved;
  char* sealed = CryptProtectCustom(kPassword);
  CopyTextField(record.password, sealed);
  std::free(sealed);
  record.flags |= kFlagPasswordCustomProtected;
  return record;
}

// What an export hands out: the host's, freed by the test after the watch.
struct Outputs {
  BYTE* blob = nullptr;
  DWORD size = 0;
  LPWSTR identity = nullptr;
  EAP_ERROR* error = nullptr;
  VeltoXmlDocument* document = nullptr;
  ~Outputs() {
    std::free(blob);
    std::free(identity);
    std::free(error);
    test::XmlDocument owned(document);
  }
};

class SecretHygieneTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = test::MakeTempDir();
    test::SetEnvVar("HOME", root_.c_str());
    test::SetEnvVar("XDG_DATA_HOME", (root_ + "/data").c_str());
    test::SetEnvVar("VELTOEAP_REGISTRY_ROOT", (root_ + "/registry").c_str());
    test::SetEnvVar("VELTOEAP_COMMON_FILES", (root_ + "/common").c_str());
    // The installation's library directory holds the doubles; the module
    // reads it when it loads.
    platform::RegistryKey* key = nullptr;
    ASSERT_EQ(platform::g_registry->create_machine_key(platform::kVeltoWirelessKey, &key), 0u);
    std::string dir = test::SiblingDoublesDir();
    platform::g_registry->set_value(key, "TamrixBinDir", platform::kRegSz,
                                    reinterpret_cast<const uint8_t*>(dir.c_str()),
                                    static_cast<uint32_t>(dir.size() + 1));
    platform::g_registry->close_key(key);
    std::string error;
    ASSERT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadIfNeeded, &sim_, &error)) << error;
    ASSERT_TRUE(test::FindAuthDialogsDouble(test::SiblingLookup::kLoadIfNeeded, &dialogs_, &error))
        << error;
    module_ = test::LoadModule(VELTO_MODULE_NAME);
    ASSERT_NE(module_, nullptr) << dlerror();
    Dl_info info{};
    ASSERT_NE(dladdr(test::ModuleEntry(module_, "EapPeerFreeMemory"), &info), 0);
    module_base_ = info.dli_fbase;
  }
  static void TearDownTestSuite() {
    test::UnloadModule(module_);
    test::RemoveTree(root_);
  }
  void SetUp() override {
    ASSERT_NE(module_, nullptr);
    sim_.reset();
    dialogs_.reset();
  }

  template <typename F>
  static F* Entry(const char* name) {
    auto* entry = reinterpret_cast<F*>(test::ModuleEntry(module_, name));
    EXPECT_NE(entry, nullptr) << name;
    return entry;
  }

  // Runs `step` under the free watch; the frees of the module (or of the
  // image at `base`) that still held a secret, one line each.
  static std::string SecretsFreedDuring(const std::function<void()>& step,
                                        const void* base = module_base_) {
    // Made once: the test frees nothing that holds a secret while it watches.
    static const std::vector<std::string> secrets = {kPassword, kPin};
    test::StartFreeWatch(base, secrets);
    step();
    std::string found;
    for (const test::FreedSecret& f : test::StopFreeWatch()) {
      found += f.secret + (f.wide ? " (UTF-16)" : "") + " in a block of " +
               std::to_string(f.block_size) + " bytes freed at " + f.freed_by + "\n";
    }
    return found;
  }

  static void WithDialog(Dialog dialog, const std::function<void()>& step) {
    dialogs_.set_hook(RunDialog, &dialog);
    step();
    dialogs_.set_hook(nullptr, nullptr);
  }

  static std::string root_;
  static void* module_;
  static const void* module_base_;
  static test::SimcoreDouble sim_;
  static test::AuthDialogsDouble dialogs_;
};

std::string SecretHygieneTest::root_;
void* SecretHygieneTest::module_ = nullptr;
const void* SecretHygieneTest::module_base_ = nullptr;
test::SimcoreDouble SecretHygieneTest::sim_;
test::AuthDialogsDouble SecretHygieneTest::dialogs_;

// The watch itself sees a block holding a secret, in either form, freed
// unwiped (here by the test); EapPeerFreeMemory wipes what the host returns
// (a user record holds the PIN).
TEST_F(SecretHygieneTest, WatchSeesASecretFreedAndFreeMemoryWipes) {
  auto free_memory = Entry<decltype(EapPeerFreeMemory)>("EapPeerFreeMemory");
  ASSERT_NE(free_memory, nullptr);
  auto wide_pin = [] {
    auto* wide = static_cast<char16_t*>(std::malloc(sizeof kPinWide));
    std::memcpy(wide, kPinWide, sizeof kPinWide);
    return wide;
  };
  char* narrow = strdup(kPassword);
  char16_t* wide = wide_pin();  // made outside the watch, or the pair may be optimised away
  std::string found = SecretsFreedDuring([&] {
    std::free(narrow);
    std::free(wide);
  });
  EXPECT_NE(found.find(std::string(kPassword) + " in a block"), std::string::npos) << found;
  EXPECT_NE(found.find(std::string(kPin) + " (UTF-16)"), std::string::npos) << found;
  EXPECT_EQ(std::count(found.begin(), found.end(), '\n'), 2) << found;
  EXPECT_EQ(SecretsFreedDuring([&] {
              free_memory(strdup(kPassword));
              free_memory(wide_pin());
            }),
            "");
}

TEST_F(SecretHygieneTest, ConfigurationImportAndExport) {
  auto import = Entry<decltype(EapPeerConfigXml2Blob)>("EapPeerConfigXml2Blob");
  auto export_ = Entry<decltype(EapPeerConfigBlob2Xml)>("EapPeerConfigBlob2Xml");
  ASSERT_TRUE(import && export_);
  char* profile_sealed = EncryptProfileIdentityData(kPassword);
  ASSERT_NE(profile_sealed, nullptr);
  const std::string head =
      "<Config><EapTtls><Phase2Type>PAP</Phase2Type><credSaved><identity>alice</identity>";
  const std::string tail = "</password></credSaved></EapTtls></Config>";
  // Plain, split by CDATA, a comment and a reference, and sealed.
  const std::string documents[] = {
      head + "<password>" + kPassword + tail,
      head + "<password>Pw-hyg<![CDATA[iene-7Qz!]]><!--c-->&#45;and-more" + tail,
      head + "<password encrypted='true'>" + profile_sealed + tail};
  std::free(profile_sealed);
  for (const std::string& text : documents) {
    test::XmlDocument document = test::ParseXml(text);
    ASSERT_TRUE(document) << text;
    Outputs out;
    EXPECT_EQ(SecretsFreedDuring([&] {
                EXPECT_EQ(import(0, Method(kEapTypeTtls), document.get(), &out.blob, &out.size,
                                 &out.error), 0u);
              }),
              "") << "import of " << text;
  }
  cdata plain = Record(kEapTypeTtls);
  CopyTextField(plain.password, kPassword);
  for (cdata record : {SealedTtlsRecord(), plain}) {
    Outputs out;
    EXPECT_EQ(SecretsFreedDuring([&] {
                EXPECT_EQ(export_(0, Method(kEapTypeTtls), reinterpret_cast<const BYTE*>(&record),
                                  kCdataSize, &out.document, &out.error), 0u);
              }),
              "") << "export, flags " << record.flags;
  }
}

// The configuration dialog with the stored password kept, and with a new one
// typed; the identity dialog with a password, and with a PIN (a wrong PIN
// first, so it goes through the dialog twice).
TEST_F(SecretHygieneTest, Dialogs) {
  auto config_ui = Entry<decltype(EapPeerInvokeConfigUI)>("EapPeerInvokeConfigUI");
  auto identity_ui = Entry<decltype(EapPeerInvokeIdentityUI)>("EapPeerInvokeIdentityUI");
  ASSERT_TRUE(config_ui && identity_ui);
  for (bool typed : {false, true}) {
    const cdata record = SealedTtlsRecord();
    const EAP_METHOD_TYPE method = Method(kEapTypeTtls);
    Outputs out;
    EXPECT_EQ(SecretsFreedDuring([&] {
                WithDialog(
                    [&](int, _VELTO_WLAN_PROFILE_V120* p, int* changed) {
                      if (typed) {
                        std::memset(p->password_text, 0, sizeof p->password_text);
                        std::strcpy(p->password_text, kPassword);
                        if (changed != nullptr) *changed = 1;
                      }
                      return 1;
                    },
                    [&] {
                      EXPECT_EQ(config_ui(&method, nullptr, 0, kCdataSize,
                                          reinterpret_cast<const BYTE*>(&record), &out.size,
                                          &out.blob, &out.error), 0u);
                    });
              }),
              "") << (typed ? "new password typed" : "stored password kept");
  }
  for (uint8_t type : {kEapTypeTtls, kEapTypeSim}) {
    if (type == kEapTypeSim) {
      sim_.push_imsi(kSwcPinWrong, "");
      sim_.push_imsi(0, "001010123456789");
    }
    const cdata record = Record(type);
    const EAP_METHOD_TYPE method = Method(type);
    Outputs out;
    EXPECT_EQ(SecretsFreedDuring([&] {
                WithDialog(
                    [&](int, _VELTO_WLAN_PROFILE_V120* p, int*) {
                      if (type == kEapTypeTtls) {
                        std::strcpy(p->user_name, "alice");
                        std::strcpy(p->password_text, kPassword);
                      } else {
                        std::strcpy(p->reader_name, "Reader 0");
                        std::strcpy(p->pin_text, kPin);
                      }
                      return 1;
                    },
                    [&] {
                      EXPECT_EQ(identity_ui(&method, 0, nullptr, kCdataSize,
                                            reinterpret_cast<const BYTE*>(&record), 0, nullptr,
                                            &out.size, &out.blob, &out.identity, &out.error), 0u);
                    });
              }),
              "") << "identity dialog of type " << int(type);
  }
}

TEST_F(SecretHygieneTest, CredentialInputFields) {
  auto user_blob = Entry<decltype(EapPeerQueryUserBlobFromCredentialInputFields)>(
      "EapPeerQueryUserBlobFromCredentialInputFields");
  ASSERT_NE(user_blob, nullptr);
  auto run = [&](uint8_t type, std::vector<std::pair<const char16_t*, const char16_t*>> typed) {
    std::vector<std::u16string> texts;
    texts.reserve(2 * typed.size());
    std::vector<EAP_CONFIG_INPUT_FIELD_DATA> fields;
    for (auto [label, data] : typed) {
      WCHAR* l = texts.emplace_back(label).data();
      WCHAR* d = texts.emplace_back(data).data();
      fields.push_back({sizeof(EAP_CONFIG_INPUT_FIELD_DATA), {}, 0, l, d, 0, 0});
    }
    EapConfigInputFieldArray array = {0, static_cast<DWORD>(fields.size()), fields.data()};
    cdata record = Record(type);
    Outputs out;
    return SecretsFreedDuring([&] {
      EXPECT_EQ(user_blob(nullptr, Method(type), 0, kCdataSize, reinterpret_cast<BYTE*>(&record),
                          &array, &out.size, &out.blob, nullptr), 0u);
    });
  };
  EXPECT_EQ(run(kEapTypeTtls, {{u"Username", u"alice"}, {u"Password", kPasswordWide}}), "");
  EXPECT_EQ(run(kEapTypeSim, {{u"PIN", kPinWide}}), "");
}

// The terminal dialog library answered from a file: the password of the
// configuration dialog and the PIN of the smart-card dialog, and a file that
// does not parse.
TEST_F(SecretHygieneTest, TerminalDialogLibrary) {
  void* library = dlopen((test::ProductDir() + "/authdialogs.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto create_1x = reinterpret_cast<Create1XDlgFn*>(dlsym(library, "Create1XDlg"));
  auto create_sc = reinterpret_cast<CreateScDlgFn*>(dlsym(library, "CreateScDlg"));
  Dl_info info{};
  ASSERT_TRUE(create_1x && create_sc && dladdr(reinterpret_cast<void*>(create_1x), &info));
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
    std::string found = SecretsFreedDuring(
        [&] {
          confirmed = create_1x(12, &profile, 0, 0, nullptr, &changed) +
                      create_sc(&profile, 150, 0, nullptr, nullptr, &sims);
        },
        info.dli_fbase);
    EXPECT_EQ(found, "") << answers;
    EXPECT_EQ(confirmed, answers.find("broken") == std::string::npos ? 2 : 0);
  }
  // Typed on a terminal (a pseudo-terminal, the controlling one of a child),
  // long enough to outgrow the line's first buffers.
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
    std::string found = SecretsFreedDuring(
        [&] { confirmed = create_1x(3, &profile, 0, 0, nullptr, nullptr); }, info.dli_fbase);
    std::fprintf(stderr, "%s", found.c_str());
    _exit(terminal >= 0 && confirmed == 1 && found.empty() ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(status, 0) << "typed on the terminal";
  close(master);
  dlclose(library);
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
    test::VirtualSimConfig config;
    config.kind = kind;
    config.pin = kPin;
    test::VirtualSim card(config);
    channel.card = &card;
    sim::CardInfo info = sim::IdentifyCard(channel);
    std::string imsi;
    bool sent = false;
    EXPECT_EQ(SecretsFreedDuring([&] { sim::ReadImsi(channel, info, kPin, &imsi, &sent); }), "");
    EXPECT_TRUE(sent);
  }
}

}  // namespace
}  // namespace velto
