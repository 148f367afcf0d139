// Input: the credential input fields the host hands back, with the user's typed texts.
#include <string>
#include <vector>

#include "frame/cdata.h"
#include "frame/exports.h"
#include "base/memory.h"
#include "fuzz_env.h"
#include "abi/udata.h"

namespace {

// A text of the host's: `length` UTF-16 units, terminated; null for a
// length byte of 0xFF.
WCHAR* Text(velto::fuzz::Input& input, std::vector<std::u16string>& keep) {
  const uint8_t length = input.Byte();
  if (length == 0xFF) return nullptr;
  std::u16string text(length, u'\0');
  input.CopyTo(text.data(), text.size() * sizeof(WCHAR));
  keep.push_back(std::move(text));
  return keep.back().data();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  velto::fuzz::SetUpPrivateEnvironment();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velto::fuzz::Input input(data, size);
  static const uint8_t kTypes[] = {velto::kEapTypeTtls, velto::kEapTypeSim, velto::kEapTypeAka, 0};
  const uint8_t type = kTypes[input.Byte() % 4];
  // The stored record: the type's default with the input's credential source
  // and flags.
  velto::cdata record{};
  velto::MakeDefaultRecord(type == 0 ? velto::kEapTypeTtls : type, &record);
  record.cred_source = input.Byte() % 4;
  record.flags = input.Byte();

  std::vector<std::u16string> texts;
  texts.reserve(2 * 16);
  std::vector<EAP_CONFIG_INPUT_FIELD_DATA> fields(input.Byte() % 8);
  for (EAP_CONFIG_INPUT_FIELD_DATA& field : fields) {
    field.dwSize = sizeof field;
    field.Type = static_cast<EAP_CONFIG_INPUT_FIELD_TYPE>(input.Byte() % 9);
    field.dwFlagProps = input.Byte() & 1;
    field.pwszLabel = Text(input, texts);
    field.pwszData = Text(input, texts);
  }
  EapConfigInputFieldArray array = {0, static_cast<DWORD>(fields.size()), fields.data()};

  DWORD blob_size = 0;
  BYTE* blob = nullptr;
  EAP_METHOD_TYPE method = {{type, 0, 0}, 0};
  EapPeerQueryUserBlobFromCredentialInputFields(nullptr, method, 0, velto::kCdataSize,
                                                reinterpret_cast<BYTE*>(&record), &array,
                                                &blob_size, &blob, nullptr);
  velto::WipeAndFree(blob, blob_size);
  return 0;
}
