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
#include "support/xml_test_util.h"

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

// Made on first use, after main has pointed the key folder at its temporary
// folder. "ttls-sealed" is the export of the saved-credentials profile: its
// password travels sealed (encrypted="true").
const Profile& GetProfile(const std::string& name) {
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

void BareParse(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0);
    if (doc == nullptr) {
      state.SkipWithError("libxml2 refused the text");
      return;
    }
    xmlFreeDoc(doc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Parse(benchmark::State& state, const std::string& name) {
  const Profile& profile = GetProfile(name);
  if (!profile.error.empty()) return state.SkipWithError(profile.error.c_str());
  BareParse(state, profile.text);
}

void BM_ParseOutput(benchmark::State& state, const std::string& name) {
  const Profile& profile = GetProfile(name);
  if (!profile.error.empty()) return state.SkipWithError(profile.error.c_str());
  BareParse(state, profile.exported);
}

void BM_Import(benchmark::State& state, const std::string& name) {
  const Profile& profile = GetProfile(name);
  if (!profile.error.empty()) return state.SkipWithError(profile.error.c_str());
  const xml::DomApi& dom = *xml::g_dom;
  EAP_METHOD_TYPE method{};
  method.eapType.type = profile.type;
  for (auto _ : state) {
    VeltoXmlDocument* document = dom.create_document();
    bool loaded = document != nullptr && dom.load_xml(document, profile.wide.c_str(), nullptr);
    BYTE* record = nullptr;
    DWORD size = 0;
    DWORD status = loaded ? EapPeerConfigXml2Blob(0, method, document, &record, &size, nullptr) : 1;
    EapPeerFreeMemory(record);
    dom.release_document(document);
    if (status != 0) return state.SkipWithError("the import failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * profile.text.size()));
}

void BM_Export(benchmark::State& state, const std::string& name) {
  const Profile& profile = GetProfile(name);
  if (!profile.error.empty()) return state.SkipWithError(profile.error.c_str());
  const xml::DomApi& dom = *xml::g_dom;
  for (auto _ : state) {
    cdata record = profile.record;  // the host's stored record, fresh each time
    benchmark::DoNotOptimize(&record);
    VeltoXmlDocument* document = nullptr;
    DWORD status = EapPeerConfigBlob2Xml(0, EAP_METHOD_TYPE{}, reinterpret_cast<BYTE*>(&record),
                                         kCdataSize, &document, nullptr);
    if (status != 0) return state.SkipWithError("the export failed");
    dom.release_document(document);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * profile.exported.size()));
}

const bool kRegistered = [] {
  for (const char* name : {"ttls-saved", "ttls-sealed", "ttls-prompt", "sim", "aka"}) {
    benchmark::RegisterBenchmark((std::string("xml/parse/") + name).c_str(), BM_Parse,
                                 std::string(name));
    benchmark::RegisterBenchmark((std::string("xml/import/") + name).c_str(), BM_Import,
                                 std::string(name));
  }
  for (const char* name : {"ttls-saved", "ttls-prompt", "sim", "aka"}) {
    benchmark::RegisterBenchmark((std::string("xml/parse-output/") + name).c_str(), BM_ParseOutput,
                                 std::string(name));
    benchmark::RegisterBenchmark((std::string("xml/export/") + name).c_str(), BM_Export,
                                 std::string(name));
  }
  return true;
}();

}  // namespace
}  // namespace velto::bench
