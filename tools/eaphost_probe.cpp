// eaphost_probe: loads the module by file name as EapHost does, lists the
// twelve entry points it looks up by name, and prints the default
// configuration record of each method.
//
//   eaphost_probe [MODULE]     (default: the module beside this program)
#include <cstdio>
#include <cstring>
#include <string>

#include "frame/cdata.h"
#include "frame/eap_abi.h"
#include "module_loader.h"

namespace {

const char* const kExports[] = {
    "EapPeerConfigXml2Blob",
    "EapPeerConfigBlob2Xml",
    "EapPeerInvokeConfigUI",
    "EapPeerInvokeIdentityUI",
    "EapPeerQueryCredentialInputFields",
    "EapPeerQueryUserBlobFromCredentialInputFields",
    "EapPeerFreeMemory",
    "EapPeerFreeErrorMemory",
    "DllRegisterServer",
    "DllUnregisterServer",
    "EapPeerCredentialsXml2Blob",
    "EapPeerInvokeInteractiveUI",
};

const char* MethodName(uint32_t type) {
  switch (type) {
    case velto::kEapTypeSim: return "EAP-SIM";
    case velto::kEapTypeTtls: return "EAP-TTLS";
    case velto::kEapTypeAka: return "EAP-AKA";
    default: return "unknown";
  }
}

void PrintRecord(const velto::cdata& r) {
  std::printf("  eap_type:             %u (%s)\n", r.eap_type, MethodName(r.eap_type));
  std::printf("  phase2_type:          0x%08X\n", r.phase2_type);
  std::printf("  anon_identity:        [%s]\n", r.anon_identity);
  std::printf("  ca_hash:              [%s]\n", r.ca_hash);
  std::printf("  cred_source:          0x%08X\n", r.cred_source);
  std::printf("  alternative_identity: [%s]\n", r.alternative_identity);
  std::printf("  subject_match:        [%s]\n", r.subject_match);
  std::printf("  identity:             [%s]\n", r.identity);
  std::printf("  password:             %s\n", r.password[0] != '\0' ? "(set)" : "(empty)");
  std::printf("  flags:                0x%08X\n", r.flags);
}

}  // namespace

int main(int argc, char** argv) {
  const char* module_name = argc > 1 ? argv[1] : VELTO_MODULE_NAME;
  std::string error;
  void* module = velto::tools::LoadModuleByName(module_name, &error);
  if (module == nullptr) {
    std::fprintf(stderr, "eaphost_probe: cannot load %s: %s\n", module_name, error.c_str());
    return 1;
  }
  std::printf("module %s\n", module_name);
  int missing = 0;
  for (const char* name : kExports) {
    bool found = velto::tools::FindEntry(module, name) != nullptr;
    missing += found ? 0 : 1;
    std::printf("  %-46s %s\n", name, found ? "found" : "MISSING");
  }

  for (uint8_t type : {velto::kEapTypeTtls, velto::kEapTypeSim, velto::kEapTypeAka}) {
    velto::cdata record;
    if (!velto::MakeDefaultRecord(type, &record)) continue;
    std::printf("default record, %s (%u bytes)\n", MethodName(type), velto::kCdataSize);
    PrintRecord(record);
  }
  velto::tools::UnloadModuleHandle(module);
  return missing == 0 ? 0 : 2;
}
