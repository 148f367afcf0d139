// Input: the EAP type (first byte) and a configuration document as the host hands it over (any bytes, parsed first).
#include "frame/exports.h"
#include "fuzz_env.h"
#include "support/xml_test_util.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velto::fuzz::SetUpPrivateEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The three methods, and one type the module does not know.
  static const uint8_t kTypes[] = {velto::kEapTypeTtls, velto::kEapTypeSim, velto::kEapTypeAka, 25};
  velto::fuzz::Input input(data, size);
  EAP_METHOD_TYPE method = {{kTypes[input.Byte() % 4], 0, 0}, 0};
  velto::test::XmlDocument document = velto::test::ParseXml(input.Rest());
  if (!document) return -1;  // not a document: the host never passes one
  BYTE* record = nullptr;
  DWORD record_size = 0;
  EAP_ERROR* error = nullptr;
  EapPeerConfigXml2Blob(0, method, document.get(), &record, &record_size, &error);
  EapPeerFreeMemory(record);
  EapPeerFreeErrorMemory(error);
  return 0;
}
