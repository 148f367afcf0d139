#include "frame/cdata.h"

#include <cstdlib>
#include <cstring>

#include "abi/eap_abi.h"
#include "base/text.h"
#include "frame/user_name.h"

namespace velto {

bool MakeDefaultRecord(uint8_t eap_type, cdata* record) {
  std::memset(record, 0, sizeof *record);
  switch (eap_type) {
    case kEapTypeTtls: {
      record->eap_type = kEapTypeTtls;
      record->phase2_type = kPhase2MschapV2;
      record->cred_source = kCredPrompt;
      char user[261] = {};
      uint32_t size = sizeof user;
      if (!platform::CurrentUserName(user, &size)) user[0] = '\0';
      CopyTextField(record->anon_identity, user);
      return true;
    }
    case kEapTypeSim:
    case kEapTypeAka:
      record->eap_type = eap_type;
      record->cred_source = kCredSaved;
      return true;
    default:
      return false;
  }
}

cdata* AllocRecord() {
  return static_cast<cdata*>(std::calloc(1, sizeof(cdata)));
}

}  // namespace velto
