// Input: a stored configuration record (1520 bytes, any content) and the EAP type byte.
#include "frame/cdata.h"
#include "frame/exports.h"
#include "fuzz_env.h"
#include "xmlconfig/xml_dom.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velto::fuzz::SetUpPrivateEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  EAP_METHOD_TYPE method = {{input.Byte(), 0, 0}, 0};
  // The host's block, exactly the record's size; the export changes its
  // password fields in place.
  BYTE record[velto::kCdataSize] = {};
  input.CopyTo(record, sizeof record);
  VeltoXmlDocument* document = nullptr;
  EAP_ERROR* error = nullptr;
  EapPeerConfigBlob2Xml(0, method, record, sizeof record, &document, &error);
  if (document != nullptr) velto::xml::g_dom->release_document(document);
  EapPeerFreeErrorMemory(error);
  return 0;
}
