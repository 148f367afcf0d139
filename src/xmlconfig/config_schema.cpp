#include "xmlconfig/config_schema.h"

#include <cstring>

#include "frame/cdata.h"
#include "abi/eap_abi.h"

namespace velto::xml {
namespace {

struct Phase2Name {
  const char* text;
  uint32_t code;
};

// Read in this order; "GTC" and "EAP-GTC" are different codes.
constexpr Phase2Name kPhase2Names[] = {
    {"EAP-GTC", kPhase2EapGtc}, {"EAP-MSCHAPV2", kPhase2EapMschapV2},
    {"EAP-MD5", kPhase2EapMd5}, {"EAP-TLS", kPhase2EapTls},
    {"MSCHAPV2", kPhase2MschapV2}, {"MSCHAP", kPhase2Mschap},
    {"CHAP", kPhase2Chap},     {"GTC", kPhase2Gtc},
    {"PAP", kPhase2Pap},
};

}  // namespace

const char* MethodElementName(uint32_t eap_type) {
  switch (eap_type) {
    case kEapTypeSim: return "EapSim";
    case kEapTypeTtls: return "EapTtls";
    case kEapTypeAka: return "EapAka";
    default: return "Unknown";
  }
}

uint32_t Phase2CodeFromText(const char* text) {
  for (const Phase2Name& name : kPhase2Names) {
    if (std::strcmp(text, name.text) == 0) return name.code;
  }
  return kPhase2Unknown;
}

const char* Phase2TextFromCode(uint32_t code) {
  // Code 8 (plain GTC) is written as "EAP-GTC" too; it reads back as 1.
  if (code == kPhase2Gtc) return "EAP-GTC";
  for (const Phase2Name& name : kPhase2Names) {
    if (name.code == code) return name.text;
  }
  return "UNKNOWN";
}

}  // namespace velto::xml
