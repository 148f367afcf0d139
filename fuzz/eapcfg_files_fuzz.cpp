// Input: a selector byte, then either a configuration record as eapcfg reads
// it from a file (even selector; shown and checked as after a dialog) or a
// profile file's bytes (odd: decoded, its Config element found, imported and
// compared with the record as eapcfg does).
#include <cstdlib>
#include <cstring>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "fuzz_env.h"
#include "losses.h"
#include "profile_text.h"
#include "record_text.h"
#include "support/xml_test_util.h"
#include "xmlconfig/xml_access.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velto::fuzz::SetUpPrivateEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  uint8_t selector = input.Byte();
  if (selector % 2 == 0) {
    velto::cdata record{};
    input.CopyTo(&record, sizeof record);
    std::string text = velto::tools::DescribeRecord(record);
    velto::tools::DialogLosses(selector, record);
    // Nothing past a field's slot, nothing a terminal would act on.
    for (char c : text) {
      if (c != '\n' && static_cast<unsigned char>(c) < 0x20) std::abort();
    }
    return 0;
  }
  velto::SecretString text;
  std::string error;
  if (!velto::tools::DecodeProfile(input.Rest(), &text, &error)) return 0;
  velto::tools::ProfileConfig config = velto::tools::FindConfig(text);
  velto::test::XmlDocument document = velto::test::ParseXml(std::string(config.document));
  if (!document) return 0;
  static const uint8_t kTypes[] = {velto::kEapTypeTtls, velto::kEapTypeSim, velto::kEapTypeAka};
  EAP_METHOD_TYPE method = {{kTypes[(selector >> 1) % 3], 0, 0}, 0};
  BYTE* record = nullptr;
  DWORD record_size = 0;
  if (EapPeerConfigXml2Blob(0, method, document.get(), &record, &record_size, nullptr) == 0) {
    velto::cdata copy;
    std::memcpy(&copy, record, sizeof copy);
    velto::test::XmlDocument original = velto::test::ParseXml(std::string(config.document));
    velto::xml::NodeRef root(velto::xml::g_dom->first_child(original.get()));
    velto::tools::ImportLosses(root.get(), copy);
    EapPeerFreeMemory(record);
  }
  return 0;
}
