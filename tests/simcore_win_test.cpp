// The real simcore under Wine, whose winscard is a stub: no smart-card
// service, so no SIM can be read.
#include <gtest/gtest.h>

#include <string>

#include "simcore_chain.h"

TEST(SimcoreWithoutService, LibraryAndModuleGiveUpCleanly) {
  velto::test::SimChain chain;
  std::string error;
  ASSERT_TRUE(chain.SetUp(&error)) << error;
  velto::test::ExpectNoSmartCardService(chain);
}
