#include "platform/CodeSignature.h"

#include "platform/WindowsError.h"

#include <QDir>

#include <windows.h>

#include <mscat.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <string>
#include <vector>

namespace platform {

namespace {
// The signer's certificate's subject CN, read while the verification's state is open.
QString signerName(HANDLE state)
{
    CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR *signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT *certificate = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
    if (!certificate || !certificate->pCert)
        return QString();
    wchar_t name[256];
    const DWORD length = CertGetNameStringW(certificate->pCert, CERT_NAME_ATTR_TYPE, 0,
                                            const_cast<char *>(szOID_COMMON_NAME), name, 256);
    return length > 1 ? QString::fromWCharArray(name, static_cast<int>(length) - 1) : QString();
}

// Verifies what `data` names and reads its signer, closing the state again.
SystemSignature verify(WINTRUST_DATA &data)
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Never fetch a list from the network: the venue's network is the player's.
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    SystemSignature signature;
    signature.signer = signerName(data.hWVTStateData);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    switch (static_cast<ULONG>(status)) {
    case ERROR_SUCCESS:
        signature.verdict = SystemSignature::Verdict::Trusted;
        break;
    case static_cast<ULONG>(TRUST_E_NOSIGNATURE):
    case static_cast<ULONG>(TRUST_E_SUBJECT_FORM_UNKNOWN):
        signature.verdict = SystemSignature::Verdict::Unsigned;
        break;
    case static_cast<ULONG>(TRUST_E_BAD_DIGEST):
    case static_cast<ULONG>(CRYPT_E_BAD_MSG):
        signature.verdict = SystemSignature::Verdict::Broken;
        signature.reason = systemMessage(static_cast<ULONG>(status));
        break;
    default:
        signature.verdict = SystemSignature::Verdict::Untrusted;
        signature.reason = systemMessage(static_cast<ULONG>(status));
    }
    return signature;
}

// The catalog functions that take SHA-256 (Windows 8 on), asked of wintrust.dll at run time since
// not every import library has them; without them, the SHA-1 ones of older systems.
using AcquireContext2 = BOOL(WINAPI *)(HCATADMIN *, const GUID *, PCWSTR, PCCERT_STRONG_SIGN_PARA, DWORD);
using CalcHashFromFileHandle2 = BOOL(WINAPI *)(HCATADMIN, HANDLE, DWORD *, BYTE *, DWORD);

template <typename Function> Function wintrustFunction(const char *name)
{
    const HMODULE wintrust = GetModuleHandleW(L"wintrust.dll");
    return wintrust ? reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(wintrust, name))) : nullptr;
}

bool calcHash(HCATADMIN admin, HANDLE file, DWORD *size, BYTE *hash, CalcHashFromFileHandle2 calcHash2)
{
    return calcHash2 ? calcHash2(admin, file, size, hash, 0) : CryptCATAdminCalcHashFromFileHandle(file, size, hash, 0);
}

// The file's member of a system catalog, verified; Unsigned when no catalog lists its digest.
SystemSignature catalogSignature(const std::wstring &path)
{
    SystemSignature unsigned_;
    unsigned_.verdict = SystemSignature::Verdict::Unsigned;
    HCATADMIN admin = nullptr;
    GUID driverAction = DRIVER_ACTION_VERIFY;
    const auto acquire2 = wintrustFunction<AcquireContext2>("CryptCATAdminAcquireContext2");
    const auto calcHash2 = wintrustFunction<CalcHashFromFileHandle2>("CryptCATAdminCalcHashFromFileHandle2");
    const bool sha256 = acquire2 && calcHash2 && acquire2(&admin, &driverAction, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!sha256 && !CryptCATAdminAcquireContext(&admin, &driverAction, 0))
        return unsigned_;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SystemSignature signature = unsigned_;
    if (file != INVALID_HANDLE_VALUE && GetFileType(file) == FILE_TYPE_DISK) {
        DWORD size = 0;
        const CalcHashFromFileHandle2 calc = sha256 ? calcHash2 : nullptr;
        calcHash(admin, file, &size, nullptr, calc);
        std::vector<BYTE> hash(size);
        HCATINFO info = nullptr;
        if (size > 0 && size <= 64 && calcHash(admin, file, &size, hash.data(), calc))
            info = CryptCATAdminEnumCatalogFromHash(admin, hash.data(), size, 0, nullptr);
        CATALOG_INFO catalog{};
        catalog.cbStruct = sizeof catalog;
        if (info && CryptCATCatalogInfoFromContext(info, &catalog, 0)) {
            std::wstring tag;
            for (const BYTE byte : hash) {
                static const wchar_t kDigits[] = L"0123456789ABCDEF";
                tag += kDigits[byte >> 4];
                tag += kDigits[byte & 15];
            }
            WINTRUST_CATALOG_INFO member{};
            member.cbStruct = sizeof member;
            member.pcwszCatalogFilePath = catalog.wszCatalogFile;
            member.pcwszMemberFilePath = path.c_str();
            member.pcwszMemberTag = tag.c_str();
            member.hMemberFile = file;
            member.pbCalculatedFileHash = hash.data();
            member.cbCalculatedFileHash = size;
            member.hCatAdmin = admin;
            WINTRUST_DATA data{};
            data.dwUnionChoice = WTD_CHOICE_CATALOG;
            data.pCatalog = &member;
            signature = verify(data);
            signature.catalog = true;
        }
        if (info)
            CryptCATAdminReleaseCatalogContext(admin, info, 0);
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    CryptCATAdminReleaseContext(admin, 0);
    return signature;
}
} // namespace

SystemSignature systemSignature(const QString &path)
{
    const std::wstring wide = QDir::toNativeSeparators(path).toStdWString();
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = wide.c_str();
    WINTRUST_DATA data{};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    const SystemSignature embedded = verify(data);
    if (embedded.verdict != SystemSignature::Verdict::Unsigned)
        return embedded;
    return catalogSignature(wide);
}

} // namespace platform
