// eapcfg: drives the module the way EapHost does.
//
//   eapcfg import PROFILE.xml [-o RECORD] [--type ttls|sim|aka]
//   eapcfg export [RECORD] [--type ttls|sim|aka]
//   eapcfg show RECORD
//   eapcfg exports
//   eapcfg fields RECORD [--type ...]
//   eapcfg userblob RECORD [--type ...] [--field LABEL=VALUE ...] [--stdin]
//   eapcfg sim [--reader NAME] [--pin PIN | --pin-stdin]   (eapcfg_sim.cpp)
//   eapcfg configure RECORD [--type ...]     (eapcfg_ui.cpp)
//   eapcfg identity RECORD [--type ...]
//   eapcfg wlan-profile PROFILE.xml --ssid NAME [--record RECORD] [--type ...]   (eapcfg_wlan.cpp)
//
// The module is loaded by file name and its entries are looked up by name;
// --module names another file.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "frame/text_convert.h"
#include "abi/udata.h"
#include "eapcfg_platform.h"
#include "eapcfg_sim.h"
#include "eapcfg_ui.h"
#include "losses.h"
#include "eapcfg_wlan.h"
#include "failure.h"
#include "module_loader.h"
#include "profile_text.h"
#include "record_text.h"
#include "xmlconfig/config_schema.h"
#include "xmlconfig/xml_access.h"
#include "xmlconfig/xml_dom.h"

namespace {

using velto::cdata;
using velto::kCdataSize;

const char* const kExportNames[] = {
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

// Where the module hands the SIM reader's name from one credential export
// to the next.
constexpr char kSsoSimReaderValue[] =
    "key HKEY_LOCAL_MACHINE\\SOFTWARE\\Velto\\Wireless, value SsoSimReader";

using velto::tools::Failure;
using velto::tools::Report;

class Module {
 public:
  explicit Module(const std::string& name) {
    std::string error;
    handle_ = velto::tools::LoadModuleByName(name.c_str(), &error);
    if (handle_ == nullptr) throw Failure{0, "cannot load " + name + ": " + error};
  }
  ~Module() {
    if (handle_ != nullptr) velto::tools::UnloadModuleHandle(handle_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  template <typename F>
  F* Entry(const char* name) const {
    void* entry = velto::tools::FindEntry(handle_, name);
    if (entry == nullptr) throw Failure{0, std::string("the module has no entry ") + name};
    return reinterpret_cast<F*>(entry);
  }
  void* handle() const { return handle_; }

 private:
  void* handle_ = nullptr;
};

uint8_t TypeFromName(const std::string& name) {
  if (name == "ttls") return velto::kEapTypeTtls;
  if (name == "sim") return velto::kEapTypeSim;
  if (name == "aka") return velto::kEapTypeAka;
  throw Failure{0, "unknown method type \"" + name + "\" (ttls, sim or aka)"};
}

// The file's bytes; a missing file, a folder and an unreadable file are
// told apart. `what` names what the file should have been. Read into the
// wiping string: a profile or record may hold a plain password.
velto::SecretString ReadFile(const std::string& path, const char* what) {
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw Failure{0, path + ": no such file"};
  }
  if (status.type() == std::filesystem::file_type::directory) {
    throw Failure{0, path + " is a folder, not " + what};
  }
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) throw Failure{0, "cannot read " + path + ": " + std::strerror(errno)};
  velto::SecretString bytes;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, n);
  bool failed = std::ferror(in) != 0;
  int err = errno;
  std::fclose(in);
  velto::SecureWipe(buffer, sizeof buffer);
  if (failed) throw Failure{0, "cannot read " + path + ": " + std::strerror(err)};
  return bytes;
}

void WriteFile(const std::string& path, const void* data, size_t size) {
  std::string error;
  if (!velto::tools::ReplaceFileWhole(path, data, size, &error)) throw Failure{0, error};
}

// Exit statuses besides 0 and 1 (the dialogs' 2 is eapcfg_ui's).
constexpr int kExitStrictWarning = 3;
constexpr int kExitUsage = 64;

// Losses go to stderr; under --strict they fail the command.
int Warn(const std::vector<std::string>& warnings, bool strict) {
  for (const std::string& w : warnings) std::fprintf(stderr, "eapcfg: warning: %s\n", w.c_str());
  return strict && !warnings.empty() ? kExitStrictWarning : 0;
}

std::basic_string<WCHAR> ToWide(const char* utf8) {
  using namespace velto::platform;
  int n = MultiByteToWide(CodePage::kUtf8, utf8, -1, nullptr, 0);
  std::basic_string<WCHAR> wide(n > 0 ? static_cast<size_t>(n) : 1, 0);
  if (n > 0) MultiByteToWide(CodePage::kUtf8, utf8, -1, wide.data(), n);
  wide.resize(wide.size() - 1);
  return wide;
}

std::string ToUtf8(const WCHAR* text) {
  using namespace velto::platform;
  if (text == nullptr) return {};
  int n = WideToMultiByte(CodePage::kUtf8, text, -1, nullptr, 0);
  std::string utf8(n > 0 ? static_cast<size_t>(n) : 1, '\0');
  if (n > 0) WideToMultiByte(CodePage::kUtf8, text, -1, utf8.data(), n);
  utf8.resize(utf8.size() - 1);
  return utf8;
}

struct DocumentDeleter {
  void operator()(VeltoXmlDocument* d) const { velto::xml::g_dom->release_document(d); }
};
using Document = std::unique_ptr<VeltoXmlDocument, DocumentDeleter>;

Document Parse(const std::string& path, const velto::SecretString& text) {
  Document document(velto::xml::g_dom->create_document());
  if (!document) throw Failure{0, "cannot create an XML document (is COM available?)"};
  velto::xml::ParseError error;
  std::basic_string<WCHAR> wide = ToWide(text.c_str());
  bool loaded = velto::xml::g_dom->load_xml(document.get(), wide.c_str(), &error);
  velto::SecureWipe(wide.data(), wide.size() * sizeof(WCHAR));
  if (!loaded) {
    std::string reason = ToUtf8(error.reason);
    std::free(error.reason);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    throw Failure{0, path + ":" + std::to_string(error.line) + ":" + std::to_string(error.column) +
                         ": not well-formed XML: " + reason};
  }
  return document;
}

struct Profile {
  Document document;        // what the module is handed
  std::string method_type;  // EapMethod/Type of an EapHostConfig document
};

// The whole file is checked first, so that a fault is reported where it is
// in the file; the module then gets the Config element alone, as the host
// hands it over.
Profile ParseProfile(const std::string& path) {
  // Every copy of the text may hold a plain password: all are wiping strings.
  const velto::SecretString bytes = ReadFile(path, "a profile");
  velto::SecretString text;
  std::string error;
  if (!velto::tools::DecodeProfile(bytes, &text, &error)) throw Failure{0, path + ": " + error};
  Document whole = Parse(path, text);
  const velto::tools::ProfileConfig config = velto::tools::FindConfig(text);
  if (!config.found) return {std::move(whole), {}};
  return {Parse(path + " (its Config element)", config.document), config.method_type};
}

// The method element the document holds under its first child, or 0.
uint8_t DetectType(VeltoXmlDocument* document) {
  velto::xml::NodeRef config(velto::xml::g_dom->first_child(document));
  for (uint8_t type : {velto::kEapTypeTtls, velto::kEapTypeSim, velto::kEapTypeAka}) {
    if (velto::xml::find_child_node(config.get(), velto::xml::MethodElementName(type))) return type;
  }
  return 0;
}

// The node's name, or "" when the DOM gives none.
std::string NodeName(velto::xml::DomNode* node) {
  WCHAR* name = node != nullptr ? velto::xml::g_dom->node_name(node) : nullptr;
  std::string text = ToUtf8(name);
  std::free(name);
  return text;
}

// Why the import refused a document, found the same way the import looks.
std::string ImportRefusal(VeltoXmlDocument* document, uint8_t type) {
  using namespace velto::xml;
  if (type != velto::kEapTypeTtls && type != velto::kEapTypeSim && type != velto::kEapTypeAka) {
    return "EAP type " + std::to_string(type) + " is not one of this module's methods";
  }
  NodeRef config(g_dom->first_child(document));
  if (!config) return "the document is empty";
  const char* method_name = MethodElementName(type);
  NodeRef method = find_child_node(config.get(), method_name);
  if (!method) {
    std::string first = NodeName(config.get());
    std::string reason = std::string("the document has no ") + method_name +
                         " element under its first child (\"" + first + "\")";
    if (first == "#comment" || first.rfind("<?", 0) == 0 || first == "xml") {
      return reason + ": the first child must be the Config element, not a comment or declaration";
    }
    // A prefixed method element, or one inside a comment: the module matches
    // whole names among element children only.
    for (NodeRef child(g_dom->first_child_of(config.get())); child;
         child = NodeRef(g_dom->next_sibling(child.get()))) {
      std::string name = NodeName(child.get());
      size_t colon = name.rfind(':');
      if (colon != std::string::npos && name.compare(colon + 1, std::string::npos, method_name) == 0) {
        return reason + ": its first child \"" + name +
               "\" carries a prefix, and the module matches names without one (use a default "
               "namespace, xmlns='...')";
      }
      if (name == "#comment") {
        WCHAR* text = g_dom->node_text(child.get());
        std::string inside = ToUtf8(text);
        std::free(text);
        if (inside.find(method_name) != std::string::npos) {
          return reason + ": its first child is a comment that holds the " + method_name +
                 " element (commented out?)";
        }
      }
    }
    return reason;
  }
  if (NodeRef saved = find_child_node(method.get(), "credSaved")) {
    if (!find_child_node(saved.get(), "identity")) return "credSaved has no identity element";
    if (!find_child_node(saved.get(), "password")) return "credSaved has no password element";
  }
  return "the module refused the document";
}

cdata ReadRecord(const std::string& path) {
  const velto::SecretString bytes = ReadFile(path, "a record file");
  if (bytes.size() != kCdataSize) {
    throw Failure{87, path + " is " + std::to_string(bytes.size()) + " bytes, not a " +
                          std::to_string(kCdataSize) + "-byte configuration record"};
  }
  cdata record;
  std::memcpy(&record, bytes.data(), sizeof record);
  return record;
}

// The method type an EapHostConfig document names in EapMethod/Type.
uint8_t TypeFromNumber(const std::string& number) {
  for (uint8_t type : {velto::kEapTypeTtls, velto::kEapTypeSim, velto::kEapTypeAka}) {
    if (number == std::to_string(type)) return type;
  }
  throw Failure{87, "EapMethod/Type is " + number + ", not one of this module's methods (18, 21, 23)"};
}

int Import(const Module& module, const std::string& profile, std::string output,
           const std::string& type_name, bool strict) {
  if (output.empty()) {
    output = profile;
    size_t dot = output.rfind('.');
    size_t slash = output.find_last_of("/\\");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) output.resize(dot);
    output += ".cdata";
  }
  std::error_code ec;
  if (output == profile || std::filesystem::equivalent(output, profile, ec)) {
    throw Failure{0, "the record would replace the profile " + profile + ": give another -o"};
  }
  Profile parsed = ParseProfile(profile);
  Document& document = parsed.document;
  uint8_t type = !type_name.empty()              ? TypeFromName(type_name)
                 : !parsed.method_type.empty() ? TypeFromNumber(parsed.method_type)
                                               : DetectType(document.get());
  if (type == 0) {
    throw Failure{87, "the document has no EapTtls, EapSim or EapAka element under its first child"};
  }
  auto import = module.Entry<decltype(EapPeerConfigXml2Blob)>("EapPeerConfigXml2Blob");
  auto free_memory = module.Entry<decltype(EapPeerFreeMemory)>("EapPeerFreeMemory");

  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  BYTE* record = nullptr;
  DWORD size = 0;
  DWORD status = import(0, method, document.get(), &record, &size, nullptr);
  if (status != 0) throw Failure{status, ImportRefusal(document.get(), type)};
  cdata copy;
  std::memcpy(&copy, record, sizeof copy);
  // Compared with the document as the file has it: the import rewrites a
  // plain password in the document it is handed.
  Profile original = ParseProfile(profile);
  velto::xml::NodeRef config(velto::xml::g_dom->first_child(original.document.get()));
  std::vector<std::string> losses = velto::tools::ImportLosses(config.get(), copy);
  if (strict && !losses.empty()) {
    velto::SecureWipe(record, size);
    free_memory(record);
    velto::SecureWipe(&copy, sizeof copy);
    std::fprintf(stderr, "eapcfg: %s not written (--strict)\n", output.c_str());
    return Warn(losses, strict);
  }
  try {
    WriteFile(output, record, size);
  } catch (...) {
    velto::SecureWipe(record, size);
    free_memory(record);
    velto::SecureWipe(&copy, sizeof copy);
    throw;
  }
  std::printf("%s -> %s (%u bytes)\n", profile.c_str(), output.c_str(),
              static_cast<unsigned>(size));
  velto::SecureWipe(record, size);
  free_memory(record);
  std::fputs(velto::tools::DescribeRecord(copy).c_str(), stdout);
  velto::SecureWipe(&copy, sizeof copy);
  return Warn(losses, strict);
}

int Export(const Module& module, const std::string& record_path, const std::string& type_name) {
  auto export_xml = module.Entry<decltype(EapPeerConfigBlob2Xml)>("EapPeerConfigBlob2Xml");
  EAP_METHOD_TYPE method{};
  cdata record{};
  bool have_record = !record_path.empty();
  if (have_record) {
    record = ReadRecord(record_path);
  } else {
    method.eapType.type = TypeFromName(type_name.empty() ? "ttls" : type_name);
  }
  VeltoXmlDocument* raw = nullptr;
  DWORD status = export_xml(0, method, have_record ? reinterpret_cast<BYTE*>(&record) : nullptr,
                            have_record ? kCdataSize : 0, &raw, nullptr);
  velto::SecureWipe(&record, sizeof record);
  if (status != 0) {
    throw Failure{status, status == 87 ? "the record cannot be written as XML (its EAP type, or a "
                                         "text holding '<' or '&')"
                                       : "the module ran out of memory"};
  }
  Document document(raw);
  WCHAR* xml = velto::xml::g_dom->document_xml(document.get());
  std::string text = ToUtf8(xml);
  std::free(xml);
  // Line ends are the stream's to make: "\r\n" from the DOM would become
  // "\r\r\n" on a Windows console or file.
  std::erase(text, '\r');
  while (!text.empty() && text.back() == '\n') text.pop_back();
  std::printf("%s\n", text.c_str());
  return 0;
}

int Show(const std::string& record_path) {
  cdata record = ReadRecord(record_path);
  std::fputs(velto::tools::DescribeRecord(record).c_str(), stdout);
  velto::SecureWipe(&record, sizeof record);
  return 0;
}

// The method type for a record: --type when given, else the record's own.
EAP_METHOD_TYPE MethodFor(const cdata& record, const std::string& type_name) {
  EAP_METHOD_TYPE method{};
  method.eapType.type =
      type_name.empty() ? static_cast<uint8_t>(record.eap_type) : TypeFromName(type_name);
  return method;
}

const char* FieldTypeName(int type) {
  switch (type) {
    case 0: return "user name";
    case 1: return "password";
    case 2: return "network user name";
    case 3: return "network password";
    case 4: return "PIN";
    default: return "other";
  }
}

int Fields(const Module& module, const std::string& record_path, const std::string& type_name) {
  auto query = module.Entry<decltype(EapPeerQueryCredentialInputFields)>(
      "EapPeerQueryCredentialInputFields");
  auto free_memory = module.Entry<decltype(EapPeerFreeMemory)>("EapPeerFreeMemory");
  cdata record = ReadRecord(record_path);
  EapConfigInputFieldArray fields{};
  DWORD status = query(nullptr, MethodFor(record, type_name), 0, kCdataSize,
                       reinterpret_cast<BYTE*>(&record), &fields, nullptr);
  velto::SecureWipe(&record, sizeof record);
  if (status != 0) {
    throw Failure{status, status == 1359 ? std::string("the SIM reader could not be handed over in "
                                                       "the registry: ") + kSsoSimReaderValue
                                         : "the record or its EAP type is not one of this module's"};
  }
  if (fields.dwNumberOfFields == 0) {
    std::printf("no fields: no SIM is present\n");
    return 0;
  }
  for (DWORD i = 0; i < fields.dwNumberOfFields; ++i) {
    const EAP_CONFIG_INPUT_FIELD_DATA& field = fields.pFields[i];
    std::printf("field %u: \"%s\", %s (%d), %s, at most %u characters\n",
                static_cast<unsigned>(i + 1), ToUtf8(field.pwszLabel).c_str(),
                FieldTypeName(field.Type), static_cast<int>(field.Type),
                field.dwFlagProps & EAP_CONFIG_INPUT_FIELD_PROPS_NON_DISPLAYABLE ? "hidden"
                                                                                  : "shown",
                static_cast<unsigned>(field.dwMaxDataLength));
    free_memory(field.pwszLabel);
  }
  free_memory(fields.pFields);
  return 0;
}

// "LABEL=VALUE" pairs from the command line, or else from standard input. The
// values may be passwords or PINs: all are held in wiping strings.
std::vector<std::pair<std::string, velto::SecretString>> FieldValues(
    const std::vector<std::string>& given, bool from_stdin) {
  std::vector<velto::SecretString> lines(given.begin(), given.end());
  if (from_stdin) {
    velto::SecretString line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines.push_back(line);
    }
  }
  std::vector<std::pair<std::string, velto::SecretString>> values;
  for (size_t i = 0; i < lines.size(); ++i) {
    size_t eq = lines[i].find('=');
    if (eq == std::string::npos) {
      // Not echoed: a line without "=" is likely a password on its own.
      throw Failure{0, std::string("a field is LABEL=VALUE: ") +
                           (i < given.size() ? "--field number " + std::to_string(i + 1)
                                             : "line " + std::to_string(i + 1 - given.size()) +
                                                   " of standard input") +
                           " is not"};
    }
    values.emplace_back(lines[i].substr(0, eq), lines[i].substr(eq + 1));
  }
  return values;
}

std::string UserRecordText(const velto::udata& user) {
  auto field = [](const char* text, size_t size) { return velto::tools::EscapedField(text, size); };
  std::string password = user.user_password[0] == '\0'
                             ? "empty"
                             : (user.user_flags & velto::kUserPasswordCustomProtected)
                                   ? "sealed, stored form (flag 0x1)"
                                   : "plain text (not shown)";
  std::string out;
  out += "user identity:        \"" + field(user.user_identity, sizeof user.user_identity) + "\"\n";
  out += "password:             " + password + "\n";
  out += "PIN:                  " + std::string(user.user_pin[0] != '\0' ? "set (not shown)" : "none") + "\n";
  out += "SIM identity:         \"" + field(user.sim_identity, sizeof user.sim_identity) + "\"\n";
  out += "SIM reader:           \"" + field(user.sim_reader, sizeof user.sim_reader) + "\"\n";
  return out;
}

int UserBlob(const Module& module, const std::string& record_path, const std::string& type_name,
             const std::vector<std::string>& given, bool from_stdin) {
  auto query = module.Entry<decltype(EapPeerQueryUserBlobFromCredentialInputFields)>(
      "EapPeerQueryUserBlobFromCredentialInputFields");
  auto free_memory = module.Entry<decltype(EapPeerFreeMemory)>("EapPeerFreeMemory");
  cdata record = ReadRecord(record_path);
  auto values = FieldValues(given, from_stdin);

  std::vector<std::basic_string<WCHAR>> texts;
  texts.reserve(2 * values.size());  // no growth: a moved short text keeps its characters
  for (auto& [label, value] : values) {
    texts.push_back(ToWide(label.c_str()));
    texts.push_back(ToWide(value.c_str()));
    velto::SecureWipe(value.data(), value.size());
  }
  std::vector<EAP_CONFIG_INPUT_FIELD_DATA> fields(values.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    fields[i].dwSize = sizeof fields[i];
    fields[i].pwszLabel = texts[2 * i].data();
    fields[i].pwszData = texts[2 * i + 1].data();
  }
  EapConfigInputFieldArray array{0, static_cast<DWORD>(fields.size()), fields.data()};

  DWORD size = 0;
  BYTE* blob = nullptr;
  DWORD status = query(nullptr, MethodFor(record, type_name), 0, kCdataSize,
                       reinterpret_cast<BYTE*>(&record), &array, &size, &blob, nullptr);
  velto::SecureWipe(&record, sizeof record);
  for (auto& text : texts) velto::SecureWipe(text.data(), text.size() * sizeof(WCHAR));
  if (status != 0) {
    throw Failure{status, status == 1359 ? std::string("the PIN could not be converted, or the "
                                                       "registry value could not be read: ") +
                                               kSsoSimReaderValue
                                         : "the record or its EAP type is not one of this module's"};
  }
  velto::udata user;
  std::memcpy(&user, blob, sizeof user);
  velto::SecureWipe(blob, size);
  free_memory(blob);
  std::fputs(UserRecordText(user).c_str(), stdout);
  velto::SecureWipe(&user, sizeof user);
  return 0;
}

int Exports(const Module& module, const std::string& name) {
  std::printf("module %s\n", name.c_str());
  int missing = 0;
  for (const char* entry : kExportNames) {
    bool found = velto::tools::FindEntry(module.handle(), entry) != nullptr;
    missing += found ? 0 : 1;
    std::printf("  %-46s %s\n", entry, found ? "found" : "MISSING");
  }
  return missing == 0 ? 0 : 1;
}

}  // namespace

// CLI11's own message, or for a word that is no subcommand, the list of
// subcommands.
int UsageError(CLI::App& app, const CLI::ParseError& e) {
  bool chosen = false;
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({})) {
    chosen = chosen || sub->parsed();
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  if (chosen || e.get_exit_code() == 0) return app.exit(e) == 0 ? 0 : kExitUsage;
  std::vector<std::string> words = app.remaining();
  std::string unknown = words.empty() ? "" : "\"" + words.front() + "\" is not a subcommand; ";
  std::fprintf(stderr, "eapcfg: %sthe subcommands are: %s\n", unknown.c_str(), names.c_str());
  return kExitUsage;
}

int main(int argc, char** argv) {
  velto::tools::InitTool();
  CLI::App app{"eapcfg: configuration records of the veltoeap EAP methods"};
  app.require_subcommand(1);
  // "/tmp/a.cdata" is a path, not an option, also on Windows.
  app.allow_windows_style_options(false);
  app.fallthrough();
  std::string module_name = VELTO_MODULE_NAME;
  app.add_option("--module", module_name, "the module to load, by file name")->capture_default_str();
  bool strict = false;
  app.add_flag("--strict", strict, "a warning about a lost or changed value fails with exit 3");

  std::string profile, output, record_path, type_name;
  CLI::App* import = app.add_subcommand("import", "import configuration XML into a record");
  import->add_option("PROFILE", profile, "configuration XML")->required();
  import->add_option("-o,--output", output, "record file (default: PROFILE with .cdata)");
  import->add_option("--type", type_name, "ttls, sim or aka (default: from the document)");

  CLI::App* export_cmd = app.add_subcommand("export", "print a record (or a default record) as XML");
  export_cmd->add_option("RECORD", record_path, "record file; none: the default record of --type");
  export_cmd->add_option("--type", type_name, "ttls, sim or aka, for the default record");

  CLI::App* show = app.add_subcommand("show", "describe a record");
  show->add_option("RECORD", record_path, "record file")->required();

  CLI::App* exports = app.add_subcommand("exports", "list the module's EapHost entries");

  CLI::App* fields = app.add_subcommand("fields", "the credential input fields the host is to ask for");
  fields->add_option("RECORD", record_path, "record file")->required();
  fields->add_option("--type", type_name, "ttls, sim or aka (default: the record's)");

  std::vector<std::string> field_values;
  bool from_stdin = false;
  CLI::App* userblob =
      app.add_subcommand("userblob", "the user record built from filled-in fields");
  userblob->add_option("RECORD", record_path, "record file")->required();
  userblob->add_option("--type", type_name, "ttls, sim or aka (default: the record's)");
  userblob->add_option("--field", field_values, "LABEL=VALUE, e.g. Username=alice (repeatable)");
  userblob->add_flag("--stdin", from_stdin, "read LABEL=VALUE lines from standard input");

  velto::tools::SimCommand sim(app);
  velto::tools::UiCommands ui_commands;
  velto::tools::AddUiCommands(&app, &ui_commands);
  velto::tools::WlanCommand wlan;
  velto::tools::AddWlanCommand(&app, &wlan);
  velto::tools::AddVersionFlag(&app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return UsageError(app, e);
  }
  ui_commands.strict = strict;

  try {
    if (show->parsed()) return Show(record_path);
    if (sim.parsed()) return sim.Run();
    velto::tools::InitHostThread();
    Module module(module_name);
    if (import->parsed()) return Import(module, profile, output, type_name, strict);
    if (export_cmd->parsed()) return Export(module, record_path, type_name);
    if (exports->parsed()) return Exports(module, module_name);
    if (fields->parsed()) return Fields(module, record_path, type_name);
    if (userblob->parsed()) return UserBlob(module, record_path, type_name, field_values, from_stdin);
    if (int status = velto::tools::RunUiCommand(ui_commands, module.handle()); status >= 0) return status;
    if (int status = velto::tools::RunWlanCommand(wlan, module.handle()); status >= 0) return status;
  } catch (const Failure& failure) {
    return Report(failure);
  }
  return 1;
}
