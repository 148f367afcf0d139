// The twelve EapHost peer-method UI entry points, with the desktop SDK's
// signatures and C linkage.
#pragma once

#include "abi/eap_abi.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define VELTO_EXPORT __attribute__((visibility("default")))
#else
#define VELTO_EXPORT  // the .def file names the exports on Windows
#endif

extern "C" {

VELTO_EXPORT DWORD WINAPI EapPeerConfigXml2Blob(DWORD dwFlags, EAP_METHOD_TYPE eapMethodType,
                                                VeltoXmlDocument* pConfigDoc, BYTE** ppConfigOut,
                                                DWORD* pdwSizeOfConfigOut,
                                                EAP_ERROR** ppEapError);

VELTO_EXPORT DWORD WINAPI EapPeerConfigBlob2Xml(DWORD dwFlags, EAP_METHOD_TYPE eapMethodType,
                                                const BYTE* pConfigIn, DWORD dwSizeOfConfigIn,
                                                VeltoXmlDocument** ppConfigDoc,
                                                EAP_ERROR** ppEapError);

VELTO_EXPORT DWORD WINAPI EapPeerInvokeConfigUI(const EAP_METHOD_TYPE* pEapType, HWND hwndParent,
                                                DWORD dwFlags, DWORD dwSizeOfConnectionDataIn,
                                                const BYTE* pConnectionDataIn,
                                                DWORD* pdwSizeOfConnectionDataOut,
                                                BYTE** ppConnectionDataOut,
                                                EAP_ERROR** ppEapError);

VELTO_EXPORT DWORD WINAPI EapPeerInvokeIdentityUI(
    const EAP_METHOD_TYPE* pEapType, DWORD dwFlags, HWND hwndParent,
    DWORD dwSizeOfConnectionData, const BYTE* pConnectionData, DWORD dwSizeOfUserData,
    const BYTE* pUserData, DWORD* pdwSizeOfUserDataOut, BYTE** ppUserDataOut,
    LPWSTR* ppwszIdentity, EAP_ERROR** ppEapError);

VELTO_EXPORT DWORD WINAPI EapPeerQueryCredentialInputFields(
    HANDLE hUserImpersonationToken, EAP_METHOD_TYPE eapMethodType, DWORD dwFlags,
    DWORD dwEapConnDataSize, BYTE* pbEapConnData,
    EapConfigInputFieldArray* pEapConfigInputFieldsArray, EAP_ERROR** ppEapError);

VELTO_EXPORT DWORD WINAPI EapPeerQueryUserBlobFromCredentialInputFields(
    HANDLE hUserImpersonationToken, EAP_METHOD_TYPE eapMethodType, DWORD dwFlags,
    DWORD dwEapConnDataSize, BYTE* pbEapConnData,
    const EapConfigInputFieldArray* pEapConfigInputFieldArray, DWORD* pdwUsersBlobSize,
    BYTE** ppUserBlob, EAP_ERROR** ppEapError);

VELTO_EXPORT VOID WINAPI EapPeerFreeMemory(void* pUIContextData);
VELTO_EXPORT VOID WINAPI EapPeerFreeErrorMemory(EAP_ERROR* pEapError);

VELTO_EXPORT LONG WINAPI DllRegisterServer(void);
VELTO_EXPORT LONG WINAPI DllUnregisterServer(void);

VELTO_EXPORT DWORD WINAPI EapPeerCredentialsXml2Blob(DWORD dwFlags, EAP_METHOD_TYPE eapMethodType,
                                                     VeltoXmlDocument* pCredentialsDoc,
                                                     const BYTE* pConfigIn, DWORD dwSizeOfConfigIn,
                                                     BYTE** ppCredentialsOut,
                                                     DWORD* pdwSizeOfCredentialsOut,
                                                     EAP_ERROR** ppEapError);

VELTO_EXPORT DWORD WINAPI EapPeerInvokeInteractiveUI(const EAP_METHOD_TYPE* pEapType,
                                                     HWND hwndParent, DWORD dwSizeofUIContextData,
                                                     const BYTE* pUIContextData,
                                                     DWORD* pdwSizeOfDataFromInteractiveUI,
                                                     BYTE** ppDataFromInteractiveUI,
                                                     EAP_ERROR** ppEapError);

}  // extern "C"
