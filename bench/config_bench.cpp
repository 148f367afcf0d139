// Import and export of the example profiles through the module's exports,
// each beside a bare libxml2 parse of the same text (for an export: of the
// text it produced).
//
// An import is what the host's road costs: the profile text parsed into the
// module's DOM, EapPeerConfigXml2Blob, the record freed. An export starts from
// the host's stored record each time (the export changes the record it is
// given) and ends with the document released.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "paired.h"
#include "support/xml_test_util.h"
#include "xmlconfig/config_schema.h"

namespace velto::bench {
namespace {

struct Profile {
  uint8_t type = 0;
  std::string text;                 // UTF-8, as a file holds it
  std::basic_string<WCHAR> wide;    // what the host hands its DOM
  cdata record{};                   // the record the import makes of it
  std::string exported;             // what the export of that record parses
  std::string error;                // set-up failure, if any
};

std::string ReadExample(const char* name) {
  std::ifstream in(std::string(VELTO_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Import(const std::basic_string<WCHAR>& wide, uint8_t type, cdata* record) {
  test::XmlDocument document(xml::g_dom->create_document());
  if (!document || !xml::g_dom->load_xml(document.get(), wide.c_str(), nullptr)) return false;
  EAP_METHOD_TYPE method{};
  method.eapType.type = type;
  BYTE* out = nullptr;
  DWORD size = 0;
  if (EapPeerConfigXml2Blob(0, method, document.get(), &out, &size, nullptr) != 0) return false;
  std::memcpy(record, out, sizeof *record);
  EapPeerFreeMemory(out);
  return true;
}

// The export's output as text: an export of a copy of the record.
bool Export(const cdata& record, std::string* text) {
  cdata copy = record;
  VeltoXmlDocument* raw = nullptr;
  if (EapPeerConfigBlob2Xml(0, EAP_METHOD_TYPE{}, reinterpret_cast<BYTE*>(&copy), kCdataSize, &raw,
                            nullptr) != 0) {
    return false;
  }
  test::XmlDocument document(raw);
  *text = test::SerializeXml(document.get());
  return !text->empty();
}

Profile MakeProfile(std::string text, uint8_t type) {
  Profile profile;
  profile.type = type;
  profile.text = std::move(text);
  profile.wide = test::ToWide(profile.text);
  if (!Import(profile.wide, type, &profile.record)) {
    profile.error = "the import refused the profile";
  } else if (!Export(profile.record, &profile.exported)) {
    profile.error = "the export of the imported record failed";
  }
  return profile;
}

// A TTLS profile whose method element holds, before its own children, as
// many unknown siblings as VELTO_BENCH_SIBLINGS says (1,000,000 unless set;
// the smoke pass sets a small number). Every look-up of the import walks past
// them, and most (an element that is not there) walk them all.
size_t SiblingCount() {
  const char* set = std::getenv("VELTO_BENCH_SIBLINGS");
  return set != nullptr && *set != 0 ? std::strtoul(set, nullptr, 10) : 1000000;
}

const Profile& SiblingsProfile() {
  static const Profile profile = [] {
    const size_t count = SiblingCount();
    std::string text = std::string("<Config xmlns='") + xml::kEapHostConfigNamespace +
                       "'><EapTtls xmlns='" + xml::kVendorNamespace + "'>";
    text.reserve(text.size() + 7 * count + 256);
    for (size_t i = 0; i < count; ++i) text += "<note/>";
    text += "<Phase2Type>PAP</Phase2Type><credPrompt/><anonymousIdentity>anon@corp"
            "</anonymousIdentity><noServerValidation/><noSubjectMatch/></EapTtls></Config>";
    return MakeProfile(std::move(text), kEapTypeTtls);
  }();
  return profile;
}

// Made on first use, after main has pointed the key folder at its temporary
// folder. "ttls-sealed" is the export of the saved-credentials profile: its
// password travels sealed (encrypted="true").
const Profile& GetProfile(const std::string& name) {
  if (name == "siblings") return SiblingsProfile();
  static const std::map<std::string, Profile> profiles = [] {
    std::map<std::string, Profile> made;
    made["ttls-saved"] = MakeProfile(ReadExample("ttls-saved.xml"), kEapTypeTtls);
    made["ttls-prompt"] = MakeProfile(ReadExample("ttls-prompt.xml"), kEapTypeTtls);
    made["sim"] = MakeProfile(ReadExample("sim.xml"), kEapTypeSim);
    made["aka"] = MakeProfile(ReadExample("aka.xml"), kEapTypeAka);
    const Profile& saved = made["ttls-saved"];
    made["ttls-sealed"] = saved.error.empty() ? MakeProfile(saved.exported, kEapTypeTtls) : saved;
    return made;
  }();
  return profiles.at(name);
}

bool ParseOnce(const std::string& text) {
  xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0);
  if (doc == nullptr) return false;
  xmlFreeDoc(doc);
  return true;
}

bool ImportOnce(const Profile& profile) {
  const xml::DomApi& dom = *xml::g_dom;
  EAP_METHOD_TYPE method{};
  method.eapType.type = profile.type;
  VeltoXmlDocument* document = dom.create_document();
  bool loaded = document != nullptr && dom.load_xml(document, profile.wide.c_str(), nullptr);
  BYTE* record = nullptr;
  DWORD size = 0;
  DWORD status = loaded ? EapPeerConfigXml2Blob(0, method, document, &record, &size, nullptr) : 1;
  EapPeerFreeMemory(record);
  dom.release_document(document);
  return status == 0;
}

bool ExportOnce(const Profile& profile) {
  cdata record = profile.record;  // the host's stored record, fresh each time
  benchmark::DoNotOptimize(&record);
  VeltoXmlDocument* document = nullptr;
  DWORD status = EapPeerConfigBlob2Xml(0, EAP_METHOD_TYPE{}, reinterpret_cast<BYTE*>(&record),
                                       kCdataSize, &document, nullptr);
  if (status != 0) return false;
  xml::g_dom->release_document(document);
  return true;
}

enum class Road { kParse, kParseOutput, kImport, kExport };

bool RunOnce(Road road, const Profile& profile) {
  switch (road) {
    case Road::kParse: return ParseOnce(profile.text);
    case Road::kParseOutput: return ParseOnce(profile.exported);
    case Road::kImport: return ImportOnce(profile);
    case Road::kExport: return ExportOnce(profile);
  }
  return false;
}

void BM_Road(benchmark::State& state, Road road, const std::string& name) {
  const Profile& profile = GetProfile(name);
  if (!profile.error.empty()) return state.SkipWithError(profile.error.c_str());
  for (auto _ : state) {
    if (!RunOnce(road, profile)) return state.SkipWithError("the call failed");
  }
  const std::string& text =
      road == Road::kParse || road == Road::kImport ? profile.text : profile.exported;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The road and its baseline in turns (paired.h).
void BM_Paired(benchmark::State& state, Road module, Road baseline, const std::string& name) {
  const Profile& profile = GetProfile(name);
  if (!profile.error.empty()) return state.SkipWithError(profile.error.c_str());
  // One call at a time for the profile with a million siblings.
  const int batch = name == "siblings" ? 1 : 16;
  PairedRatio(
      state, batch, [&] { return RunOnce(module, profile); },
      [&] { return RunOnce(baseline, profile); });
}

const bool kRegistered = [] {
  for (const char* name : {"ttls-saved", "ttls-sealed", "ttls-prompt", "sim", "aka", "siblings"}) {
    std::string n(name);
    benchmark::RegisterBenchmark(("xml/parse/" + n).c_str(), BM_Road, Road::kParse, n);
    benchmark::RegisterBenchmark(("xml/import/" + n).c_str(), BM_Road, Road::kImport, n);
    benchmark::RegisterBenchmark(("pair/import/" + n).c_str(), BM_Paired, Road::kImport,
                                 Road::kParse, n);
  }
  for (const char* name : {"ttls-saved", "ttls-prompt", "sim", "aka"}) {
    std::string n(name);
    benchmark::RegisterBenchmark(("xml/parse-output/" + n).c_str(), BM_Road, Road::kParseOutput,
                                 n);
    benchmark::RegisterBenchmark(("xml/export/" + n).c_str(), BM_Road, Road::kExport, n);
    benchmark::RegisterBenchmark(("pair/export/" + n).c_str(), BM_Paired, Road::kExport,
                                 Road::kParseOutput, n);
  }
  return true;
}();

}  // namespace
}  // namespace velto::bench
