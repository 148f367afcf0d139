#include "eapcfg_wlan.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "base/secret_string.h"
#include "frame/text_convert.h"
#include "failure.h"
#include "module_loader.h"
#include "velto_version.h"
#include "xmlconfig/xml_dom.h"

namespace velto::tools {
namespace {

// The WLAN profile's authentication and cipher for each --security choice.
struct Security {
  const char* name;
  const char* authentication;
  const char* encryption;
};
constexpr Security kSecurities[] = {
    {"wpa2", "WPA2", "AES"},
    {"wpa3", "WPA3ENT", "AES"},
    {"wpa3-192", "WPA3ENT192", "GCMP256"},
};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

std::string Utf8(const WCHAR* text) {
  using namespace platform;
  int n = WideToMultiByte(CodePage::kUtf8, text, -1, nullptr, 0);
  if (n <= 0) return {};
  std::string utf8(static_cast<size_t>(n), '\0');
  WideToMultiByte(CodePage::kUtf8, text, -1, utf8.data(), n);
  utf8.pop_back();
  return utf8;
}

// The module's own export of the record (or of the type's default record):
// the Config element exactly as the host would store it.
std::string ExportConfig(void* module, const std::string& record_path, uint8_t* type) {
  auto export_xml = reinterpret_cast<decltype(EapPeerConfigBlob2Xml)*>(
      FindEntry(module, "EapPeerConfigBlob2Xml"));
  if (export_xml == nullptr) throw Failure{0, "the module has no entry EapPeerConfigBlob2Xml"};
  cdata record{};
  bool have_record = !record_path.empty();
  if (have_record) {
    std::ifstream in(record_path, std::ios::binary);
    if (!in) throw Failure{0, "cannot read " + record_path};
    // Read into the wiping string: the record may hold a plain password.
    const SecretString data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    bool fits = data.size() == kCdataSize;
    if (fits) std::memcpy(&record, data.data(), kCdataSize);
    if (!fits) throw Failure{87, record_path + " is not a " + std::to_string(kCdataSize) + "-byte configuration record"};
    *type = static_cast<uint8_t>(record.eap_type);
  }
  EAP_METHOD_TYPE method{};
  method.eapType.type = *type;
  VeltoXmlDocument* document = nullptr;
  DWORD status = export_xml(0, method, have_record ? reinterpret_cast<BYTE*>(&record) : nullptr,
                            have_record ? kCdataSize : 0, &document, nullptr);
  SecureWipe(&record, sizeof record);
  if (status != 0) throw Failure{status, "the module cannot write the record as XML"};
  WCHAR* wide = xml::g_dom->document_xml(document);
  std::string config = wide != nullptr ? Utf8(wide) : std::string();
  std::free(wide);
  xml::g_dom->release_document(document);
  if (config.rfind("<?xml", 0) == 0) config.erase(0, config.find("?>") + 2);
  while (!config.empty() && std::strchr(" \t\r\n", config.back()) != nullptr) config.pop_back();
  while (!config.empty() && std::strchr(" \t\r\n", config.front()) != nullptr) config.erase(0, 1);
  return config;
}

int WriteProfile(const WlanCommand& c, void* module) {
  // An SSID is 1 to 32 bytes; the profile carries it as text and in hex.
  if (c.ssid.empty() || c.ssid.size() > 32) throw Failure{0, "an SSID is 1 to 32 bytes"};
  const Security* security = nullptr;
  for (const Security& s : kSecurities) {
    if (c.security == s.name) security = &s;
  }
  if (security == nullptr) throw Failure{0, "--security is wpa2, wpa3 or wpa3-192"};
  uint8_t type = 0;
  if (c.record_path.empty()) {
    const std::string& t = c.type_name.empty() ? std::string("ttls") : c.type_name;
    type = t == "ttls" ? kEapTypeTtls : t == "sim" ? kEapTypeSim : t == "aka" ? kEapTypeAka : 0;
    if (type == 0) throw Failure{0, "unknown method type \"" + t + "\" (ttls, sim or aka)"};
  }
  std::string config = ExportConfig(module, c.record_path, &type);

  const char* common = "http://www.microsoft.com/provisioning/EapCommon";
  std::string name = Escaped(c.ssid);
  std::ostringstream xml;
  xml << "<?xml version=\"1.0\"?>\n"
      << "<WLANProfile xmlns=\"http://www.microsoft.com/networking/WLAN/profile/v1\">\n"
      << "  <name>" << name << "</name>\n"
      << "  <SSIDConfig>\n    <SSID>\n      <hex>" << Hex(c.ssid) << "</hex>\n"
      << "      <name>" << name << "</name>\n    </SSID>\n  </SSIDConfig>\n"
      << "  <connectionType>ESS</connectionType>\n"
      << "  <connectionMode>auto</connectionMode>\n"
      << "  <MSM>\n    <security>\n      <authEncryption>\n"
      << "        <authentication>" << security->authentication << "</authentication>\n"
      << "        <encryption>" << security->encryption << "</encryption>\n"
      << "        <useOneX>true</useOneX>\n      </authEncryption>\n"
      // The credentials this module collects are the user's own.
      << "      <OneX xmlns=\"http://www.microsoft.com/networking/OneX/v1\">\n"
      << "        <authMode>user</authMode>\n        <EAPConfig>\n"
      << "          <EapHostConfig xmlns=\"http://www.microsoft.com/provisioning/EapHostConfig\">\n"
      << "            <EapMethod>\n"
      << "              <Type xmlns=\"" << common << "\">" << unsigned{type} << "</Type>\n"
      << "              <VendorId xmlns=\"" << common << "\">0</VendorId>\n"
      << "              <VendorType xmlns=\"" << common << "\">0</VendorType>\n"
      << "              <AuthorId xmlns=\"" << common << "\">" << c.author_id << "</AuthorId>\n"
      << "            </EapMethod>\n"
      << "            " << config << "\n"
      << "          </EapHostConfig>\n        </EAPConfig>\n      </OneX>\n"
      << "    </security>\n  </MSM>\n</WLANProfile>\n";
  std::string text = xml.str();
  std::ofstream out(c.output, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw Failure{0, "cannot write " + c.output};
  std::printf("%s: WLAN profile \"%s\", %s, EAP type %u, author %u\n", c.output.c_str(),
              c.ssid.c_str(), security->authentication, unsigned{type}, c.author_id);
  return 0;
}

}  // namespace

void AddVersionFlag(CLI::App* app) { app->set_version_flag("--version", "eapcfg " VELTO_VERSION_TEXT); }

void AddWlanCommand(CLI::App* app, WlanCommand* c) {
  c->author_id = VELTO_EAP_AUTHOR_ID;
  c->command = app->add_subcommand(
      "wlan-profile", "write a WLAN profile (802.1X) carrying a record's configuration");
  c->command->add_option("PROFILE", c->output, "the WLAN profile to write")->required();
  c->command->add_option("--ssid", c->ssid, "the network name")->required();
  c->command->add_option("--record", c->record_path, "record file; none: the default record of --type");
  c->command->add_option("--type", c->type_name, "ttls, sim or aka, for the default record");
  c->command->add_option("--security", c->security, "wpa2, wpa3 or wpa3-192")->capture_default_str();
  c->command->add_option("--author-id", c->author_id, "the methods' EapHost author id")
      ->capture_default_str();
}

int RunWlanCommand(const WlanCommand& c, void* module) {
  if (!c.command->parsed()) return -1;
  try {
    return WriteProfile(c, module);
  } catch (const Failure& failure) {
    return Report(failure);
  }
}

}  // namespace velto::tools
