// "eapcfg --version" and "eapcfg wlan-profile": a WLAN profile that carries a
// method configuration, ready for "netsh wlan add profile".
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace velto::tools {

struct WlanCommand {
  CLI::App* command = nullptr;
  std::string output;
  std::string ssid;
  std::string record_path;
  std::string type_name;
  std::string security = "wpa2";
  unsigned author_id = 0;
};

// --version: the product version the build was made with.
void AddVersionFlag(CLI::App* app);

void AddWlanCommand(CLI::App* app, WlanCommand* command);

// Runs wlan-profile on the loaded module when it was parsed: 0 done, 1
// failed; -1 when it was not parsed.
int RunWlanCommand(const WlanCommand& command, void* module);

}  // namespace velto::tools
