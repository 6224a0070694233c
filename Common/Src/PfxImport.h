// PfxImport: our own import of a PKCS#12 file into a system store of the
// current user, for systems that offer no import action of their own.
//
// Every private key of the file goes into a key container of its own, named
// after its certificate and made new for this import (never the user's shared
// default container, where the next import would overwrite it), and is
// checked by a signature against its certificate before anything is stored:
// a key that the platform misplaced fails the import as a whole. Only then
// are the certificates added to the store and the store committed. A failed
// import leaves the store as it was and removes the containers it made.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

struct PfxImportResult {
    int certificates = 0;                 // certificates added to the store
    int keys = 0;                         // of them with their private key
    std::vector<std::string> subjects;    // their simple names, in file order
    std::vector<std::string> containers;  // the key containers made
};

// The file's bytes with the password into the store (reporting: the error
// record says why an import failed). result may be null.
bool ImportPfxData(const BYTE* data, DWORD size, const char* password, const char* storeName,
                   PfxImportResult* result);
// The same for a file (at most 16 MiB).
bool ImportPfxFile(const char* path, const char* password, const char* storeName,
                   PfxImportResult* result);
// Whether a signature made with the certificate's private key verifies with
// its public key.
bool PrivateKeySigns(PCCERT_CONTEXT certificate);
