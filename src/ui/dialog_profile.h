// Setting up a dialog profile before the module hands it to a dialog.
#pragma once

#include "abi/dialog_profile.h"

namespace velto {

// Zero-fills the profile and sets the u32 at 144, 152, 160, 200, 2420, 2472,
// 2844, 3220 and 3380 to 1. Nothing for null.
void InitDialogProfile(_VELTO_WLAN_PROFILE_V120* profile);

}  // namespace velto
