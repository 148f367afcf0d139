// The smart-card identity with the real dialog library (answers file) and the SIM library's double;
// a program of its own, as the module binds a sibling library once per process.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include "abi/udata.h"
#include "base/text.h"
#include "doubles/sibling_doubles_client.h"
#include "frame/cdata.h"
#include "frame/exports.h"
#include "support/test_env.h"

namespace velto {
namespace {

VELTO_CARD_EVENT Sim(const char* reader, bool pin) {
  VELTO_CARD_EVENT event{};
  event.kind = kCardInserted;
  event.flags = kCardHasData1 | (pin ? kCardPinEnabled : 0);
  CopyTextField(event.reader_name, reader);
  return event;
}

class RealDialogsTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    directory_ = test::MakeTempDir();
    ASSERT_FALSE(directory_.empty());
    ASSERT_EQ(symlink((test::ProductDir() + "/authdialogs.so").c_str(), (directory_ + "/authdialogs.so").c_str()), 0);
    ASSERT_EQ(symlink((test::SiblingDoublesDir() + "/simcore.so").c_str(), (directory_ + "/simcore.so").c_str()), 0);
    std::string error;
    ASSERT_TRUE(test::PointModuleAt(directory_, &error)) << error;
  }
  static void TearDownTestSuite() {
    test::SetEnvVar("VELTOEAP_DIALOG_ANSWERS", nullptr);
    test::RemoveTree(directory_);
  }
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(test::FindSimcoreDouble(test::SiblingLookup::kLoadIfNeeded, &sim_, &error, directory_)) << error;
    sim_.reset();
  }

  // A new file each time: the library reads each file from its first section.
  void Answers(const std::string& text) {
    std::string path = directory_ + "/answers" + std::to_string(++files_) + ".txt";
    std::ofstream(path) << text;
    test::SetEnvVar("VELTOEAP_DIALOG_ANSWERS", path.c_str());
  }

  // The identity export; the user record is left in `user_`.
  std::string Identity(uint8_t type) {
    cdata record{};
    record.eap_type = type;
    EAP_METHOD_TYPE method{{type, 0, 0}, 0};
    DWORD size = 0;
    BYTE* out = nullptr;
    LPWSTR identity = nullptr;
    EAP_ERROR* error = nullptr;
    EXPECT_EQ(EapPeerInvokeIdentityUI(&method, 0, nullptr, kCdataSize, reinterpret_cast<BYTE*>(&record), 0,
                                      nullptr, &size, &out, &identity, &error), 0u);
    if (out != nullptr) std::memcpy(&user_, out, sizeof user_);
    std::string text;
    for (LPWSTR c = identity; c != nullptr && *c != 0; ++c) text += static_cast<char>(*c);
    for (void* p : {static_cast<void*>(out), static_cast<void*>(identity), static_cast<void*>(error)}) std::free(p);
    return text;
  }

  static inline std::string directory_;
  static inline int files_ = 0;
  test::SimcoreDouble sim_;
  udata user_{};
};

TEST_F(RealDialogsTest, WrongPinShowsTheDialogAgainWithTheNextSection) {
  VELTO_CARD_EVENT card = Sim("Reader A", true);
  sim_.add_present_card(&card);
  sim_.push_imsi(-7, "");
  sim_.push_imsi(0, "001010123456789");
  Answers("[smartcard]\nreader=Reader A\npin=1111\n[smartcard]\npin=2222\n");
  EXPECT_EQ(Identity(kEapTypeSim), "1001010123456789");
  EXPECT_STREQ(user_.sim_reader, "Reader A");
  EXPECT_STREQ(user_.user_pin, "2222");
  EXPECT_NE(sim_.Calls().find("swc_scard_get_imsi(Reader A,1111,64)\nswc_scard_get_imsi(Reader A,2222,64)"),
            std::string::npos) << sim_.Calls();
}

TEST_F(RealDialogsTest, CardsReportedWhileTheDialogIsOpenReachIt) {
  sim_.push_imsi(0, "001010123456789");
  // The dialog waits for its reader; the cards come from the SIM library's threads once the watch is open.
  Answers("[smartcard]\nreader=Late Reader\nwait=120\ntemplate={mcc}{mnc}\n");
  std::thread events([this] {
    sim_.wait_calls("swc_scard_init", 1);
    VELTO_CARD_EVENT first = Sim("Early Reader", true), late = Sim("Late Reader", false);
    EXPECT_EQ(sim_.deliver(&first), 0);
    EXPECT_EQ(sim_.deliver(&late), 0);
  });
  EXPECT_EQ(Identity(kEapTypeAka), "001010");
  events.join();
  EXPECT_STREQ(user_.sim_reader, "Late Reader");
  EXPECT_STREQ(user_.user_pin, "") << "no PIN for a SIM without one";
  EXPECT_NE(sim_.Calls().find("swc_scard_get_imsi(Late Reader,null,64)"), std::string::npos) << sim_.Calls();
}

}  // namespace
}  // namespace velto
