#include "eapcfg_ui.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "base/secret_string.h"
#include "base/text.h"
#include "frame/text_convert.h"
#include "failure.h"
#include "eapcfg_platform.h"
#include "losses.h"
#include "module_loader.h"
#include "record_text.h"
#include "abi/udata.h"

namespace velto::tools {
namespace {

constexpr DWORD kCancelled = 1223;
constexpr int kExitCancelled = 2;
constexpr int kExitStrictWarning = 3;

template <typename F>
F* Entry(void* module, const char* name) {
  void* entry = FindEntry(module, name);
  if (entry == nullptr) throw Failure{0, std::string("the module has no entry ") + name};
  return reinterpret_cast<F*>(entry);
}

EAP_METHOD_TYPE MethodType(const std::string& type_name, uint32_t record_type) {
  EAP_METHOD_TYPE method{};
  if (type_name.empty()) {
    method.eapType.type = static_cast<uint8_t>(record_type);
  } else if (type_name == "ttls" || type_name == "sim" || type_name == "aka") {
    method.eapType.type = type_name == "ttls" ? kEapTypeTtls : type_name == "sim" ? kEapTypeSim : kEapTypeAka;
  } else {
    throw Failure{0, "unknown method type \"" + type_name + "\" (ttls, sim or aka)"};
  }
  return method;
}

// The record at `path`; false when there is no such file.
bool LoadRecord(const std::string& path, cdata* record) {
  std::error_code ec;
  auto type = std::filesystem::status(path, ec).type();
  if (type == std::filesystem::file_type::not_found) return false;
  if (type == std::filesystem::file_type::directory) throw Failure{0, path + " is a folder, not a record file"};
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure{0, "cannot read " + path + ": " + std::strerror(errno)};
  // Read into the wiping string: the record may hold a plain password.
  const SecretString data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  bool fits = data.size() == kCdataSize;
  if (fits) std::memcpy(record, data.data(), kCdataSize);
  if (!fits) throw Failure{87, path + " is not a " + std::to_string(kCdataSize) + "-byte configuration record"};
  return true;
}

// The record replaces the file only once it is written whole.
void SaveRecord(const std::string& path, const cdata& record) {
  std::string error;
  if (!ReplaceFileWhole(path, &record, sizeof record, &error)) throw Failure{0, error};
}

// The dialog's own failure, or the platform's reason it could not open.
std::string DialogFailure(const char* dialog) {
  std::string reason = DialogUnavailableReason();
  return std::string("the ") + dialog + " dialog failed" + (reason.empty() ? "" : ": " + reason);
}

std::string Utf8(const WCHAR* text) {
  using namespace platform;
  int n = WideToMultiByte(CodePage::kUtf8, text, -1, nullptr, 0);
  if (n <= 0) return "(not convertible)";
  std::string utf8(static_cast<size_t>(n), '\0');
  WideToMultiByte(CodePage::kUtf8, text, -1, utf8.data(), n);
  utf8.pop_back();
  return utf8;
}

template <size_t N>
std::string Text(const char (&field)[N]) {
  return "\"" + EscapedField(field, N) + "\"";
}

std::string UserRecord(const udata& user) {
  size_t password = FieldLength(user.user_password);
  std::string out;
  out += "user identity:        " + Text(user.user_identity) + "\n";
  out += "password:             " +
         (user.user_flags & kUserPasswordCustomProtected ? std::string("sealed")
          : password == 0 ? std::string("empty")
                          : "plain, " + std::to_string(password) + " characters") + "\n";
  out += std::string("PIN:                  ") + (user.user_pin[0] != '\0' ? "set" : "not set") + "\n";
  out += "SIM identity:         " + Text(user.sim_identity) + "\n";
  out += "SIM reader:           " + Text(user.sim_reader) + "\n";
  return out;
}

int Configure(void* module, const std::string& path, const std::string& type_name, bool strict) {
  auto invoke = Entry<decltype(EapPeerInvokeConfigUI)>(module, "EapPeerInvokeConfigUI");
  auto free_memory = Entry<decltype(EapPeerFreeMemory)>(module, "EapPeerFreeMemory");
  auto free_error = Entry<decltype(EapPeerFreeErrorMemory)>(module, "EapPeerFreeErrorMemory");
  cdata record{};
  bool existing = LoadRecord(path, &record);
  uint32_t inner_before = record.phase2_type;
  if (!existing && type_name.empty()) throw Failure{0, path + " does not exist: a new configuration needs --type"};
  EAP_METHOD_TYPE method = MethodType(type_name, record.eap_type);
  DWORD size = 0;
  BYTE* out = nullptr;
  EAP_ERROR* error = nullptr;
  DWORD status = invoke(&method, nullptr, 0, existing ? kCdataSize : 0,
                        existing ? reinterpret_cast<const BYTE*>(&record) : nullptr, &size, &out, &error);
  SecureWipe(&record, sizeof record);
  bool cancelled = error != nullptr && error->dwWinError == kCancelled;
  if (error != nullptr) free_error(error);
  if (status != 0 || out == nullptr || size != kCdataSize) {
    if (out != nullptr) {
      SecureWipe(out, size);
      free_memory(out);
    }
    throw Failure{status, DialogFailure("configuration")};
  }
  std::memcpy(&record, out, sizeof record);
  // A cancelled dialog hands back the loaded record, its password opened.
  SecureWipe(out, size);
  free_memory(out);
  if (cancelled) {
    SecureWipe(&record, sizeof record);
    if (std::string reason = DialogUnavailableReason(); !reason.empty()) {
      throw Failure{0, "the configuration dialog could not open: " + reason};
    }
    std::printf("cancelled: %s %s\n", path.c_str(), existing ? "is left as it was" : "was not made");
    return kExitCancelled;
  }
  std::vector<std::string> losses = DialogLosses(inner_before, record);
  for (const std::string& w : losses) std::fprintf(stderr, "eapcfg: warning: %s\n", w.c_str());
  if (strict && !losses.empty()) {
    SecureWipe(&record, sizeof record);
    std::printf("%s %s (--strict)\n", path.c_str(), existing ? "is left as it was" : "was not made");
    return kExitStrictWarning;
  }
  try {
    SaveRecord(path, record);
  } catch (...) {
    SecureWipe(&record, sizeof record);
    throw;
  }
  std::printf("%s %s (%u bytes)\n", path.c_str(), existing ? "updated" : "written", kCdataSize);
  std::fputs(DescribeRecord(record).c_str(), stdout);
  SecureWipe(&record, sizeof record);
  return 0;
}

int Identity(void* module, const std::string& path, const std::string& type_name) {
  auto invoke = Entry<decltype(EapPeerInvokeIdentityUI)>(module, "EapPeerInvokeIdentityUI");
  auto free_memory = Entry<decltype(EapPeerFreeMemory)>(module, "EapPeerFreeMemory");
  auto free_error = Entry<decltype(EapPeerFreeErrorMemory)>(module, "EapPeerFreeErrorMemory");
  cdata record{};
  if (!LoadRecord(path, &record)) throw Failure{0, "cannot read " + path};
  EAP_METHOD_TYPE method = MethodType(type_name, record.eap_type);
  DWORD size = 0;
  BYTE* blob = nullptr;
  WCHAR* identity = nullptr;
  EAP_ERROR* error = nullptr;
  DWORD status = invoke(&method, 0, nullptr, kCdataSize, reinterpret_cast<const BYTE*>(&record), 0,
                        nullptr, &size, &blob, &identity, &error);
  SecureWipe(&record, sizeof record);
  if (error != nullptr) free_error(error);
  if (status == kCancelled) {
    if (std::string reason = DialogUnavailableReason(); !reason.empty()) {
      throw Failure{0, "the identity dialog could not open: " + reason};
    }
    std::printf("cancelled: no identity (the dialog was cancelled or no SIM could be read)\n");
    return kExitCancelled;
  }
  if (status != 0) {
    throw Failure{status, status == 87 ? "the identity is empty or cannot be converted" : DialogFailure("identity")};
  }
  udata user{};
  if (blob != nullptr) {
    std::memcpy(&user, blob, std::min<size_t>(size, sizeof user));
    SecureWipe(blob, size);
    free_memory(blob);
  }
  std::printf("identity:             %s\n", identity != nullptr ? ("\"" + Utf8(identity) + "\"").c_str() : "none");
  std::fputs(UserRecord(user).c_str(), stdout);
  SecureWipe(&user, sizeof user);
  if (identity != nullptr) free_memory(identity);
  return 0;
}

}  // namespace

void AddUiCommands(CLI::App* app, UiCommands* commands) {
  commands->configure = app->add_subcommand(
      "configure", "show the configuration dialog on a record (none yet: a new configuration)");
  commands->configure->add_option("RECORD", commands->record_path, "record file, written back when confirmed")
      ->required();
  commands->configure->add_option("--type", commands->type_name, "ttls, sim or aka (default: the record's)");
  commands->identity = app->add_subcommand(
      "identity", "show the credential or smart-card dialog and the identity it gives");
  commands->identity->add_option("RECORD", commands->record_path, "record file")->required();
  commands->identity->add_option("--type", commands->type_name, "ttls, sim or aka (default: the record's)");
}

int RunUiCommand(const UiCommands& commands, void* module) {
  try {
    if (commands.configure->parsed()) return Configure(module, commands.record_path, commands.type_name, commands.strict);
    if (commands.identity->parsed()) return Identity(module, commands.record_path, commands.type_name);
  } catch (const Failure& failure) {
    return Report(failure);
  }
  return -1;
}

}  // namespace velto::tools
