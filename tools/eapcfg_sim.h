// "eapcfg sim": the smart-card readers, the SIMs in them and a SIM's IMSI,
// straight from simcore (the module is not involved).
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace velto::tools {

class SimCommand {
 public:
  // Adds the subcommand to `app`.
  explicit SimCommand(CLI::App& app);
  bool parsed() const { return command_->parsed(); }
  int Run();

 private:
  CLI::App* command_;
  std::string reader_;
  std::string pin_;
  bool pin_stdin_ = false;
  std::string library_ = VELTO_SIMCORE_NAME;
};

}  // namespace velto::tools
