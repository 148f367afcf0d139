#include "ui/dialog_profile.h"

#include <cstring>

namespace velto {

void InitDialogProfile(_VELTO_WLAN_PROFILE_V120* profile) {
  if (profile == nullptr) return;
  std::memset(profile, 0, sizeof *profile);
  profile->preset_144 = 1;
  profile->preset_152 = 1;
  profile->preset_160 = 1;
  profile->preset_200 = 1;
  profile->new_config_2420 = 1;
  profile->preset_2472 = 1;
  profile->preset_2844 = 1;
  profile->preset_3220 = 1;
  profile->preset_3380 = 1;
}

}  // namespace velto
