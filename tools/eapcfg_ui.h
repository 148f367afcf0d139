// eapcfg configure and eapcfg identity: the module's two dialog exports run
// as EapHost runs them, with the real dialog library.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace velto::tools {

struct UiCommands {
  CLI::App* configure = nullptr;
  CLI::App* identity = nullptr;
  std::string record_path;
  std::string type_name;
  bool strict = false;  // a lost value fails the command (exit 3)
};

// Adds both subcommands to the tool.
void AddUiCommands(CLI::App* app, UiCommands* commands);

// Runs the one that was parsed on the loaded module and returns the exit
// status: 0 done, 1 failed, 2 the user cancelled, 3 a value was lost and
// `strict` is set. -1 when neither was parsed.
int RunUiCommand(const UiCommands& commands, void* module);

}  // namespace velto::tools
