// tvprep: prepares a Wine prefix (or a Windows user) the way the settings
// program does: the settings values, the own-certificate value, certificates
// in the stores and the file types that open the transfer program. A helper
// of the demo and of manual runs; it is not installed.
//
//   tvprep settings INSTALLDIR OWNSTORE PUBSTORE   the settings key, defaults
//   tvprep set NAME VALUE                          one value of the settings key
//   tvprep owncert SUBJECT                         the own certificate of this user
//   tvprep importpfx FILE PASSWORD STORE           certificates with their keys
//   tvprep importcert FILE STORE                   a certificate (DER or PEM)
//   tvprep filetypes INSTALLDIR                    .sgn, .crp, .sme open tvcrypte
//   tvprep user                                    prints the user name used
#include <windows.h>
#include <wincrypt.h>
#include <winnetwk.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kSettingsKey[] = "software\\Quorvex\\Tarvisto";
const char kOwnCertKey[] = "software\\Quorvex\\Own Certificates";

bool WriteValue(HKEY root, const std::string& key, const char* name, const std::string& data) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
        fprintf(stderr, "tvprep: cannot create key %s\n", key.c_str());
        return false;
    }
    LONG rc = RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                             static_cast<DWORD>(data.size() + 1));
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) {
        fprintf(stderr, "tvprep: cannot write %s\\%s\n", key.c_str(), name ? name : "");
        return false;
    }
    return true;
}

std::string UserName() {
    char name[64] = {0};
    DWORD length = sizeof(name);
    if (WNetGetUserA(nullptr, name, &length) == NO_ERROR && name[0] != 0) return name;
    return "DefUsr";
}

std::string StripSlash(std::string folder) {
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

bool ReadFileBytes(const std::string& path, std::vector<BYTE>* bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1 << 24);
    if (ok) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) &&
             got == bytes->size();
    }
    CloseHandle(file);
    return ok;
}

std::wstring Widen(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

HCERTSTORE OpenSystemStore(const std::string& name) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                         name.c_str());
}

// A system store is written back when its last reference goes; commit first.
bool CommitAndClose(HCERTSTORE store) {
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    return CertCloseStore(store, 0) != FALSE;
}

std::string HashHex(PCCERT_CONTEXT certificate) {
    BYTE hash[20];
    DWORD size = sizeof(hash);
    std::string hex;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
        return "nohash";
    }
    char two[3];
    for (DWORD i = 0; i < size; ++i) {
        snprintf(two, sizeof(two), "%02x", hash[i]);
        hex += two;
    }
    return hex;
}

// Eight random bytes as hex: a name part no other import shares.
std::string RandomHex() {
    BYTE bytes[8] = {0};
    HCRYPTPROV random = 0;
    if (CryptAcquireContextA(&random, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        CryptGenRandom(random, sizeof(bytes), bytes);
        CryptReleaseContext(random, 0);
    }
    char hex[2 * sizeof(bytes) + 16];
    int n = 0;
    for (BYTE b : bytes) n += snprintf(hex + n, sizeof(hex) - n, "%02x", b);
    snprintf(hex + n, sizeof(hex) - n, "%08lx", GetTickCount() ^ (GetCurrentProcessId() << 16));
    return hex;
}

// Whether the exchange key of the provider is the certificate's key.
bool KeyMatchesCertificate(HCRYPTPROV provider, PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, nullptr, &size)) {
        return false;
    }
    std::vector<BYTE> info(size);
    auto* publicKey = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(info.data());
    return CryptExportPublicKeyInfo(provider, AT_KEYEXCHANGE, X509_ASN_ENCODING, publicKey,
                                    &size) &&
           CertComparePublicKeyInfo(X509_ASN_ENCODING, publicKey,
                                    &certificate->pCertInfo->SubjectPublicKeyInfo);
}

// The platform may put the keys of every PKCS#12 import into the one default
// container of the user, which every program that opens it writes back when
// it lets it go: a key read from there may already be another import's. So
// the key is taken from the import's own handle where the import hands one
// out, moved into a new container that belongs to this certificate alone
// (never one that exists already, whose key may be anything), checked against
// the certificate, and the certificate is pointed at it.
bool MoveKeyToOwnContainer(PCCERT_CONTEXT certificate) {
    HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    CERT_KEY_CONTEXT keyContext = {};
    DWORD contextSize = sizeof(keyContext);
    if (CertGetCertificateContextProperty(certificate, CERT_KEY_CONTEXT_PROP_ID, &keyContext,
                                          &contextSize) &&
        keyContext.hCryptProv != 0) {
        provider = keyContext.hCryptProv;
    } else if (!CryptAcquireCertificatePrivateKey(certificate, 0, nullptr, &provider, &keySpec,
                                                  &callerFrees)) {
        return false;
    }
    HCRYPTKEY key = 0;
    bool ok = CryptGetUserKey(provider, AT_KEYEXCHANGE, &key) ||
              CryptGetUserKey(provider, AT_SIGNATURE, &key);
    std::vector<BYTE> blob;
    DWORD size = 0;
    if (ok && (ok = CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size) != FALSE)) {
        blob.resize(size);
        ok = CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, blob.data(), &size) != FALSE;
    }
    if (key) CryptDestroyKey(key);
    if (callerFrees) CryptReleaseContext(provider, 0);
    if (!ok || blob.size() < sizeof(BLOBHEADER)) return false;
    reinterpret_cast<BLOBHEADER*>(blob.data())->aiKeyAlg = CALG_RSA_KEYX;

    std::string container = "tvprep-" + HashHex(certificate) + "-" + RandomHex();
    HCRYPTPROV target = 0;
    if (!CryptAcquireContextA(&target, container.c_str(), nullptr, PROV_RSA_FULL,
                              CRYPT_NEWKEYSET)) {
        SecureZeroMemory(blob.data(), blob.size());
        return false;
    }
    HCRYPTKEY imported = 0;
    ok = CryptImportKey(target, blob.data(), size, 0, CRYPT_EXPORTABLE, &imported) != FALSE;
    if (imported) CryptDestroyKey(imported);
    SecureZeroMemory(blob.data(), blob.size());
    if (ok && !KeyMatchesCertificate(target, certificate)) {
        fprintf(stderr, "tvprep: the key found for the certificate is not its own\n");
        ok = false;
    }
    CryptReleaseContext(target, 0);
    if (!ok) {
        CryptAcquireContextA(&target, container.c_str(), nullptr, PROV_RSA_FULL,
                             CRYPT_DELETEKEYSET);
        return false;
    }

    std::wstring wide = Widen(container);
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = &wide[0];
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_KEYEXCHANGE;
    // The import's handle stays with the import; the certificate keeps only
    // the link to its container.
    CertSetCertificateContextProperty(certificate, CERT_KEY_CONTEXT_PROP_ID, 0, nullptr);
    if (!CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
        CryptAcquireContextA(&target, container.c_str(), nullptr, PROV_RSA_FULL,
                             CRYPT_DELETEKEYSET);
        return false;
    }
    return true;
}

std::string SubjectOf(PCCERT_CONTEXT certificate) {
    char name[256] = {0};
    CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof(name));
    return name;
}

int ImportPfx(const std::string& path, const std::string& password, const std::string& store) {
    std::vector<BYTE> bytes;
    if (!ReadFileBytes(path, &bytes)) {
        fprintf(stderr, "tvprep: cannot read %s\n", path.c_str());
        return 1;
    }
    CRYPT_DATA_BLOB pfx = {static_cast<DWORD>(bytes.size()), bytes.data()};
    std::wstring widePassword = Widen(password);
    // Keys in memory first (taken from the import's own handle); where the
    // platform refuses that, through the default container.
    HCERTSTORE imported = PFXImportCertStore(&pfx, widePassword.c_str(),
                                             CRYPT_EXPORTABLE | PKCS12_NO_PERSIST_KEY);
    if (imported == nullptr) {
        imported = PFXImportCertStore(&pfx, widePassword.c_str(), CRYPT_EXPORTABLE);
    }
    if (imported == nullptr) {
        fprintf(stderr, "tvprep: %s is no PKCS#12 file or the password is wrong\n", path.c_str());
        return 1;
    }
    HCERTSTORE target = OpenSystemStore(store);
    bool ok = target != nullptr;
    int count = 0;
    PCCERT_CONTEXT current = nullptr;
    while (ok && (current = CertEnumCertificatesInStore(imported, current)) != nullptr) {
        DWORD size = 0;
        bool hasKey = CertGetCertificateContextProperty(current, CERT_KEY_PROV_INFO_PROP_ID,
                                                        nullptr, &size) ||
                      CertGetCertificateContextProperty(current, CERT_KEY_CONTEXT_PROP_ID,
                                                        nullptr, &size);
        if (hasKey) ok = MoveKeyToOwnContainer(current);
        ok = ok && CertAddCertificateContextToStore(target, current,
                                                    CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        if (ok) {
            ++count;
            printf("imported '%s'%s into store '%s'\n", SubjectOf(current).c_str(),
                   hasKey ? " with its private key" : "", store.c_str());
        }
    }
    if (current) CertFreeCertificateContext(current);
    if (target) ok = CommitAndClose(target) && ok;
    CertCloseStore(imported, 0);
    if (!ok || count == 0) {
        fprintf(stderr, "tvprep: import of %s failed (0x%lx)\n", path.c_str(), GetLastError());
        return 1;
    }
    return 0;
}

int ImportCertificate(const std::string& path, const std::string& store) {
    std::vector<BYTE> bytes;
    if (!ReadFileBytes(path, &bytes)) {
        fprintf(stderr, "tvprep: cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<BYTE> der;
    DWORD size = 0;
    if (CryptStringToBinaryA(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                             &size, nullptr, nullptr) &&
        size > 0) {
        der.resize(size);
        CryptStringToBinaryA(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()), CRYPT_STRING_BASE64HEADER,
                             der.data(), &size, nullptr, nullptr);
        der.resize(size);
    } else {
        der = bytes;
    }
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(
        X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr) {
        fprintf(stderr, "tvprep: %s holds no certificate\n", path.c_str());
        return 1;
    }
    HCERTSTORE target = OpenSystemStore(store);
    bool ok = target != nullptr &&
              CertAddCertificateContextToStore(target, certificate,
                                               CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (ok) {
        printf("imported '%s' into store '%s'\n", SubjectOf(certificate).c_str(), store.c_str());
    }
    CertFreeCertificateContext(certificate);
    if (target) ok = CommitAndClose(target) && ok;
    if (!ok) {
        fprintf(stderr, "tvprep: import of %s failed\n", path.c_str());
        return 1;
    }
    return 0;
}

int WriteSettings(const std::string& installDir, const std::string& ownStore,
                  const std::string& pubStore) {
    std::string dir = StripSlash(installDir);
    // The switches with the settings program's defaults.
    const char* switches[][2] = {
        {"loeschequelldatei", "Yes"}, {"addpubliczert", "Yes"}, {"openfilesonly", "No"},
        {"openfilessave", "Yes"},     {"zipfile", "Yes"},       {"unzipfile", "Yes"},
        {"showpkcs12", "No"},         {"smeviaemail", "Yes"},   {"asksmeemail", "No"},
        {"delsecure", "No"},
    };
    bool ok = true;
    for (auto& entry : switches) ok = WriteValue(HKEY_CURRENT_USER, kSettingsKey, entry[0], entry[1]) && ok;
    ok = WriteValue(HKEY_CURRENT_USER, kSettingsKey, "pubstore", pubStore) && ok;
    ok = WriteValue(HKEY_CURRENT_USER, kSettingsKey, "ownstore", ownStore) && ok;
    ok = WriteValue(HKEY_CURRENT_USER, kSettingsKey, "statusdll", dir + "\\tvstatus.dll") && ok;
    ok = WriteValue(HKEY_CURRENT_USER, kSettingsKey, "tvcryptdll", dir + "\\tvcryptc.dll") && ok;
    ok = WriteValue(HKEY_CURRENT_USER, kSettingsKey, "secureavi", dir + "\\secure.avi") && ok;
    ok = WriteValue(HKEY_CURRENT_USER, kSettingsKey, "firsttime", "No") && ok;
    return ok ? 0 : 1;
}

int WriteFileTypes(const std::string& installDir) {
    std::string dir = StripSlash(installDir);
    std::string command = "\"" + dir + "\\tvcrypte.exe\" \"%1\"";
    bool ok = WriteValue(HKEY_CLASSES_ROOT, "Tarvisto\\shell\\open\\command\\", nullptr, command);
    ok = WriteValue(HKEY_CLASSES_ROOT, "Tarvisto\\DefaultIcon", nullptr,
                    dir + "\\tvcrypte.exe,0") && ok;
    ok = WriteValue(HKEY_CLASSES_ROOT, "Tarvisto", nullptr, "Tarvisto 2.11 - File") && ok;
    for (const char* extension : {".sgn", ".crp", ".sme"}) {
        ok = WriteValue(HKEY_CLASSES_ROOT, extension, "", "Tarvisto") && ok;
    }
    return ok ? 0 : 1;
}

int Usage() {
    fprintf(stderr,
            "usage: tvprep settings INSTALLDIR OWNSTORE PUBSTORE | set NAME VALUE |\n"
            "       owncert SUBJECT | importpfx FILE PASSWORD STORE | importcert FILE STORE |\n"
            "       filetypes INSTALLDIR | user\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "settings" && argc == 5) return WriteSettings(argv[2], argv[3], argv[4]);
    if (command == "set" && argc == 4) {
        return WriteValue(HKEY_CURRENT_USER, kSettingsKey, argv[2], argv[3]) ? 0 : 1;
    }
    if (command == "owncert" && argc == 3) {
        std::string user = UserName();
        bool ok = WriteValue(HKEY_CURRENT_USER, kOwnCertKey, user.c_str(), argv[2]);
        if (ok) printf("own certificate of '%s': %s\n", user.c_str(), argv[2]);
        return ok ? 0 : 1;
    }
    if (command == "importpfx" && argc == 5) return ImportPfx(argv[2], argv[3], argv[4]);
    if (command == "importcert" && argc == 4) return ImportCertificate(argv[2], argv[3]);
    if (command == "filetypes" && argc == 3) return WriteFileTypes(argv[2]);
    if (command == "user" && argc == 2) {
        printf("%s\n", UserName().c_str());
        return 0;
    }
    return Usage();
}
