// EapHost peer-method UI types, with the layouts of the desktop SDK.
//
// On Windows the platform's own declarations are used wherever they match the
// desktop SDK. On Linux the same layouts are declared here, with UTF-16 text as
// char16_t and an opaque XML document type in place of IXMLDOMDocument2.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#include <eaptypes.h>

struct IXMLDOMDocument2;
using VeltoXmlDocument = IXMLDOMDocument2;

#else  // Linux twin of the platform declarations.

#define WINAPI
#define VOID void

typedef uint8_t BYTE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef void* HANDLE;
typedef void* HWND;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;

typedef struct _GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

typedef struct _EAP_TYPE {
  BYTE type;
  DWORD dwVendorId;
  DWORD dwVendorType;
} EAP_TYPE;

typedef struct _EAP_METHOD_TYPE {
  EAP_TYPE eapType;
  DWORD dwAuthorId;
} EAP_METHOD_TYPE;

typedef struct _EAP_ERROR {
  DWORD dwWinError;
  EAP_METHOD_TYPE type;
  DWORD dwReasonCode;
  GUID rootCauseGuid;
  GUID repairGuid;
  GUID helpLinkGuid;
  LPWSTR pRootCauseString;
  LPWSTR pRepairString;
} EAP_ERROR;

typedef enum _EAP_CONFIG_INPUT_FIELD_TYPE {
  EapConfigInputUsername = 0,
  EapConfigInputPassword = 1,
  EapConfigInputNetworkUsername = 2,
  EapConfigInputNetworkPassword = 3,
  EapConfigInputPin = 4,
  EapConfigInputPSK = 5,
  EapConfigInputEdit = 6,
  EapConfigSmartCardUsername = 7,
  EapConfigSmartCardError = 8
} EAP_CONFIG_INPUT_FIELD_TYPE;

#define EAP_CONFIG_INPUT_FIELD_PROPS_DEFAULT 0x00000000
#define EAP_CONFIG_INPUT_FIELD_PROPS_NON_DISPLAYABLE 0x00000001

typedef struct _EAP_CONFIG_INPUT_FIELD_DATA {
  DWORD dwSize;
  EAP_CONFIG_INPUT_FIELD_TYPE Type;
  DWORD dwFlagProps;
  LPWSTR pwszLabel;
  LPWSTR pwszData;
  DWORD dwMinDataLength;
  DWORD dwMaxDataLength;
} EAP_CONFIG_INPUT_FIELD_DATA;

struct VeltoXmlDocument;  // the DOM document of the Linux XML layer

#endif

// The field array as the desktop EapHost passes it: version, count, pointer at
// offset 8. mingw-w64's EAP_CONFIG_INPUT_FIELD_ARRAY carries an extra dwSize
// before pFields, so a module built on it would misread every array it is given.
struct EapConfigInputFieldArray {
  DWORD dwVersion;
  DWORD dwNumberOfFields;
  EAP_CONFIG_INPUT_FIELD_DATA* pFields;
};

static_assert(sizeof(BYTE) == 1 && sizeof(DWORD) == 4 && sizeof(WCHAR) == 2);
static_assert(sizeof(GUID) == 16);
static_assert(offsetof(EAP_TYPE, type) == 0);
static_assert(offsetof(EAP_TYPE, dwVendorId) == 4);
static_assert(offsetof(EAP_TYPE, dwVendorType) == 8);
static_assert(sizeof(EAP_TYPE) == 12);
static_assert(offsetof(EAP_METHOD_TYPE, dwAuthorId) == 12);
static_assert(sizeof(EAP_METHOD_TYPE) == 16);
static_assert(offsetof(EAP_ERROR, dwWinError) == 0);
static_assert(offsetof(EAP_ERROR, type) == 4);
static_assert(offsetof(EAP_ERROR, dwReasonCode) == 20);
static_assert(offsetof(EAP_ERROR, rootCauseGuid) == 24);
static_assert(offsetof(EAP_ERROR, repairGuid) == 40);
static_assert(offsetof(EAP_ERROR, helpLinkGuid) == 56);
static_assert(offsetof(EAP_ERROR, pRootCauseString) == 72);
static_assert(offsetof(EAP_ERROR, pRepairString) == 80);
static_assert(sizeof(EAP_ERROR) == 88);
static_assert(offsetof(EAP_CONFIG_INPUT_FIELD_DATA, dwSize) == 0);
static_assert(offsetof(EAP_CONFIG_INPUT_FIELD_DATA, Type) == 4);
static_assert(offsetof(EAP_CONFIG_INPUT_FIELD_DATA, dwFlagProps) == 8);
static_assert(offsetof(EAP_CONFIG_INPUT_FIELD_DATA, pwszLabel) == 16);
static_assert(offsetof(EAP_CONFIG_INPUT_FIELD_DATA, pwszData) == 24);
static_assert(offsetof(EAP_CONFIG_INPUT_FIELD_DATA, dwMinDataLength) == 32);
static_assert(offsetof(EAP_CONFIG_INPUT_FIELD_DATA, dwMaxDataLength) == 36);
static_assert(sizeof(EAP_CONFIG_INPUT_FIELD_DATA) == 40);
static_assert(offsetof(EapConfigInputFieldArray, dwVersion) == 0);
static_assert(offsetof(EapConfigInputFieldArray, dwNumberOfFields) == 4);
static_assert(offsetof(EapConfigInputFieldArray, pFields) == 8);
static_assert(sizeof(EapConfigInputFieldArray) == 16);

// Win32 status codes the exports return.
namespace velto {
inline constexpr DWORD kNoError = 0;
inline constexpr DWORD kErrorFileNotFound = 2;
inline constexpr DWORD kErrorAccessDenied = 5;
inline constexpr DWORD kErrorNotEnoughMemory = 8;
inline constexpr DWORD kErrorInvalidParameter = 87;
inline constexpr DWORD kErrorCallNotImplemented = 120;
inline constexpr DWORD kErrorInsufficientBuffer = 122;
inline constexpr DWORD kErrorMoreData = 234;
inline constexpr DWORD kErrorCancelled = 1223;
inline constexpr DWORD kErrorInternalError = 1359;

// EAP method types, as the type byte of EAP_METHOD_TYPE carries them.
inline constexpr uint8_t kEapTypeSim = 18;
inline constexpr uint8_t kEapTypeTtls = 21;
inline constexpr uint8_t kEapTypeAka = 23;
}  // namespace velto
