// The module's smart-card identity with the real Linux dialog library (its
// answers file) and the SIM library's double: cards reported from the SIM
// library's threads reach the open dialog, a wrong PIN shows it again. A
// program of its own: the module binds a sibling library once per process.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "doubles/sibling_doubles_client.h"
#include "base/text.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "support/test_env.h"
#include "abi/udata.h"

namespace velto {
namespace {

class RealDialogsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The real dialog library beside the SIM library's double.
    directory_ = test::MakeTempDir();
    ASSERT_FALSE(directory_.empty());
    std::string product = test::ProductDir() + "/authdialogs.so";
    std::string simcore = test::SiblingDoublesDir() + "/simcore.so";
    ASSERT_EQ(symlink(product.c_str(), (directory_ + "/authdialogs.so").c_str()), 0);
    ASSERT_EQ(symlink(simcore.c_str(), (directory_ + "/simcore.so").c_str()), 0);
    std::string error;
    ASSERT_TRUE(test::PointModuleAt(directory_, &error)) << error;
  }
  static void TearDownTestSuite() {
    test::SetEnvVar("VELTOEAP_DIALOG_ANSWERS", nullptr);
    test::RemoveTree(directory_);
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadIfNeeded, &sim_, &error, directory_))
        << error;
    sim_.reset();
  }

  void Answers(const std::string& text) {
    // A new file each time: the library reads each file from its first section.
    std::string path = directory_ + "/answers" + std::to_string(++files_) + ".txt";
    std::ofstream(path) << text;
    test::SetEnvVar("VELTOEAP_DIALOG_ANSWERS", path.c_str());
  }

  static std::unique_ptr<VELTO_CARD_EVENT> Sim(const char* reader, bool pin) {
    auto event = std::make_unique<VELTO_CARD_EVENT>();
    std::memset(event.get(), 0, sizeof *event);
    event->kind = kCardInserted;
    std::strcpy(event->reader_name, reader);
    event->flags = kCardHasData1 | (pin ? kCardPinEnabled : 0);
    return event;
  }

  struct Result {
    DWORD status = 0;
    udata user{};
    std::string identity;
  };
  Result Identity(uint8_t type, const char* identity_template) {
    cdata record{};
    record.eap_type = type;
    CopyTextField(record.identity, identity_template);
    EAP_METHOD_TYPE method{};
    method.eapType.type = type;
    Result r;
    DWORD size = 0;
    BYTE* out = nullptr;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    r.status = EapPeerInvokeIdentityUI(&method, 0, nullptr, kCdataSize, reinterpret_cast<BYTE*>(&record),
                                       0, nullptr, &size, &out, &identity, &error);
    if (out != nullptr) std::memcpy(&r.user, out, sizeof r.user);
    for (LPWSTR c = identity; c != nullptr && *c != 0; ++c) r.identity += static_cast<char>(*c);
    std::free(out);
    std::free(identity);
    std::free(error);
    return r;
  }

  static std::string directory_;
  static inline int files_ = 0;
  test::SimcoreDouble sim_;
};
std::string RealDialogsTest::directory_;

TEST_F(RealDialogsTest, WrongPinShowsTheDialogAgainWithTheNextSection) {
  auto card = Sim("Reader A", true);
  sim_.add_present_card(card.get());
  sim_.push_imsi(-7, "");
  sim_.push_imsi(0, "001010123456789");
  Answers("[smartcard]\nreader=Reader A\npin=1111\n"
          "[smartcard]\npin=2222\n");
  Result r = Identity(kEapTypeSim, "");
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(r.identity, "1001010123456789");
  EXPECT_STREQ(r.user.sim_reader, "Reader A");
  EXPECT_STREQ(r.user.user_pin, "2222");
  std::string calls = sim_.Calls();
  EXPECT_NE(calls.find("swc_scard_get_imsi(Reader A,1111,64)\nswc_scard_get_imsi(Reader A,2222,64)"),
            std::string::npos)
      << calls;
}

TEST_F(RealDialogsTest, CardsReportedWhileTheDialogIsOpenReachIt) {
  sim_.push_imsi(0, "001010123456789");
  // The dialog waits for its reader for as long as the answers allow.
  Answers("[smartcard]\nreader=Late Reader\nwait=120\ntemplate={mcc}{mnc}\n");
  // The cards come from the SIM library's threads once the watch is open.
  std::thread events([this] {
    sim_.wait_calls("swc_scard_init", 1);
    auto first = Sim("Early Reader", true);
    auto late = Sim("Late Reader", false);
    EXPECT_EQ(sim_.deliver(first.get()), 0);
    EXPECT_EQ(sim_.deliver(late.get()), 0);
  });
  Result r = Identity(kEapTypeAka, "");
  events.join();
  ASSERT_EQ(r.status, 0u);
  EXPECT_EQ(r.identity, "001010");
  EXPECT_STREQ(r.user.sim_reader, "Late Reader");
  EXPECT_STREQ(r.user.user_pin, "") << "no PIN for a SIM without one";
}

}  // namespace
}  // namespace velto
