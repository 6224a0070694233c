// tvprep: what a test prefix needs beyond the settings program's first run,
// which writes the settings, the own certificate and the shell rows itself:
// other people's certificates in a store, a switch set without the window,
// a PKCS#12 file imported without the dialog. A helper of the demo and of
// manual runs; it is not installed.
//
//   tvprep set NAME VALUE                          one value of the settings key
//   tvprep importpfx FILE PASSWORD STORE           certificates with their keys
//   tvprep importcert FILE STORE                   a certificate (DER or PEM)
//   tvprep user                                    prints the user name used
#include <windows.h>
#include <wincrypt.h>
#include <winnetwk.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "PfxImport.h"
#include "QXReg.h"
#include "QXTools.h"

namespace {

const char kSettingsKey[] = QX_REG_SETTINGS_KEY;

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


HCERTSTORE OpenSystemStore(const std::string& name) {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                         name.c_str());
}

// A system store is written back when its last reference goes; commit first.
bool CommitAndClose(HCERTSTORE store) {
    CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    return CertCloseStore(store, 0) != FALSE;
}

std::string SubjectOf(PCCERT_CONTEXT certificate) {
    char name[256] = {0};
    CertGetNameStringA(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, sizeof(name));
    return name;
}

int ImportPfx(const std::string& path, const std::string& password, const std::string& store) {
    // The system's own import: every key in a container of its own, checked.
    PfxImportResult result;
    if (!ImportPfxFile(path.c_str(), password.c_str(), store.c_str(), &result)) {
        ErrorRecord record;
        GetLastErrorInfo(&record);
        fprintf(stderr, "tvprep: import of %s failed: %s\n", path.c_str(),
                record.set ? record.text : "");
        return 1;
    }
    for (const std::string& subject : result.subjects)
        printf("imported '%s' into store '%s'\n", subject.c_str(), store.c_str());
    printf("%d certificate(s), %d with the private key\n", result.certificates, result.keys);
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

int Usage() {
    fprintf(stderr,
            "usage: tvprep set NAME VALUE | importpfx FILE PASSWORD STORE |\n"
            "       importcert FILE STORE | user\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "set" && argc == 4) {
        return WriteValue(HKEY_CURRENT_USER, kSettingsKey, argv[2], argv[3]) ? 0 : 1;
    }
    if (command == "importpfx" && argc == 5) return ImportPfx(argv[2], argv[3], argv[4]);
    if (command == "importcert" && argc == 4) return ImportCertificate(argv[2], argv[3]);
    if (command == "user" && argc == 2) {
        printf("%s\n", UserName().c_str());
        return 0;
    }
    return Usage();
}
