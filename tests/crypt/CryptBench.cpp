// The message benchmark's driver (used by scripts/bench-crypt.sh); not a test.
//
//   crypt_bench ours|bare sign    STORE SUBJECT INPUT OUTPUT
//   crypt_bench ours|bare verify  INPUT OUTPUT
//   crypt_bench ours|bare encrypt STORE SUBJECT INPUT OUTPUT
//   crypt_bench ours|bare decrypt STORE INPUT OUTPUT
//
// "ours" runs the whole-file member of TQXCrypt (read, message calls, write),
// what a job does with one file. "bare" is the least a program can do for
// the same result: read the file, make the one platform call into a buffer
// that is large enough, write the file (flushed to the disk before it is
// closed, as the tool must before it calls an output written). Both print
//   <job> <milliseconds> ms, peak <MiB> MiB
// where the peak is the process's peak working set at the end.
#include "CryptAPI.h"
#include "QXHandles.h"

#include <windows.h>
#include <wincrypt.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

double PeakMiB()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

bool ReadAll(const char* path, qx::Memory& data, DWORD& length)
{
    qx::File file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr));
    LARGE_INTEGER size = {};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart == 0 ||
        size.QuadPart > 0x7FFFFFFF)
        return false;
    length = static_cast<DWORD>(size.QuadPart);
    data.reset(static_cast<BYTE*>(malloc(length + 1)));
    if (!data)
        return false;
    DWORD got = 0;
    return ReadFile(file.get(), data.get(), length, &got, nullptr) && got == length;
}

// Written to the disk before it counts as written, as the tool writes.
bool WriteAll(const char* path, const BYTE* data, DWORD length)
{
    qx::File file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), data, length, &written, nullptr) &&
           written == length && FlushFileBuffers(file.get()) && file.close();
}

qx::Store OpenUserStore(const char* name)
{
    return qx::Store(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER, name));
}

qx::Cert FindSubject(HCERTSTORE store, const char* subject)
{
    return qx::Cert(CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                               CERT_FIND_SUBJECT_STR_A, subject, nullptr));
}

// The bare jobs: what they need from the stores is found before the clock
// starts; the clock covers the read, the one call and the write.
int Bare(const std::string& job, int argc, char** argv, double* seconds)
{
    char md5[] = szOID_RSA_MD5;
    char rc4[] = szOID_RSA_RC4;
    qx::Memory input;
    DWORD length = 0;
    // Room for what a message adds to its content.
    const DWORD kSlack = 64 * 1024;
    if (job == "sign" && argc == 7) {
        qx::Store store = OpenUserStore(argv[3]);
        qx::Cert cert = FindSubject(store.get(), argv[4]);
        if (!cert)
            return 4;
        CRYPT_SIGN_MESSAGE_PARA para = {};
        para.cbSize = sizeof para;
        para.dwMsgEncodingType = kEncoding;
        para.pSigningCert = cert.get();
        para.HashAlgorithm.pszObjId = md5;
        PCCERT_CONTEXT certs[1] = {cert.get()};
        para.cMsgCert = 1;
        para.rgpMsgCert = certs;
        double t0 = Now();
        if (!ReadAll(argv[5], input, length))
            return 5;
        DWORD size = length + cert.get()->cbCertEncoded + kSlack;
        qx::Memory out(static_cast<BYTE*>(malloc(size)));
        const BYTE* parts[1] = {input.get()};
        DWORD partLengths[1] = {length};
        if (!CryptSignMessage(&para, FALSE, 1, parts, partLengths, out.get(), &size) ||
            !WriteAll(argv[6], out.get(), size))
            return 6;
        *seconds = Now() - t0;
        return 0;
    }
    if (job == "verify" && argc == 5) {
        CRYPT_VERIFY_MESSAGE_PARA para = {};
        para.cbSize = sizeof para;
        para.dwMsgAndCertEncodingType = kEncoding;
        double t0 = Now();
        if (!ReadAll(argv[3], input, length))
            return 5;
        DWORD size = length;
        qx::Memory out(static_cast<BYTE*>(malloc(size)));
        qx::Cert signer;
        if (!CryptVerifyMessageSignature(&para, 0, input.get(), length, out.get(), &size,
                                         signer.out()) ||
            !WriteAll(argv[4], out.get(), size))
            return 6;
        *seconds = Now() - t0;
        return 0;
    }
    if (job == "encrypt" && argc == 7) {
        qx::Store store = OpenUserStore(argv[3]);
        qx::Cert cert = FindSubject(store.get(), argv[4]);
        if (!cert)
            return 4;
        CRYPT_ENCRYPT_MESSAGE_PARA para = {};
        para.cbSize = sizeof para;
        para.dwMsgEncodingType = kEncoding;
        para.ContentEncryptionAlgorithm.pszObjId = rc4;
        PCCERT_CONTEXT recipients[1] = {cert.get()};
        double t0 = Now();
        if (!ReadAll(argv[5], input, length))
            return 5;
        DWORD size = length + cert.get()->cbCertEncoded + kSlack;
        qx::Memory out(static_cast<BYTE*>(malloc(size)));
        if (!CryptEncryptMessage(&para, 1, recipients, input.get(), length, out.get(), &size) ||
            !WriteAll(argv[6], out.get(), size))
            return 6;
        *seconds = Now() - t0;
        return 0;
    }
    if (job == "decrypt" && argc == 6) {
        // The platform's one-call decryption does not find keys imported from
        // PKCS#12 files under Wine: the message is decoded, decrypted with the
        // recipient's key and its content read once.
        qx::Store store = OpenUserStore(argv[3]);
        if (!store)
            return 4;
        double t0 = Now();
        if (!ReadAll(argv[4], input, length))
            return 5;
        qx::Msg msg(CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
        if (!msg || !CryptMsgUpdate(msg.get(), input.get(), length, TRUE))
            return 6;
        DWORD infoSize = 0;
        if (!CryptMsgGetParam(msg.get(), CMSG_RECIPIENT_INFO_PARAM, 0, nullptr, &infoSize))
            return 6;
        qx::Memory info(static_cast<BYTE*>(malloc(infoSize)));
        if (!CryptMsgGetParam(msg.get(), CMSG_RECIPIENT_INFO_PARAM, 0, info.get(), &infoSize))
            return 6;
        qx::Cert cert(CertGetSubjectCertificateFromStore(
            store.get(), kEncoding, reinterpret_cast<PCERT_INFO>(info.get())));
        HCRYPTPROV key = 0;
        DWORD keySpec = 0;
        BOOL callerFrees = FALSE;
        if (!cert || !CryptAcquireCertificatePrivateKey(cert.get(), 0, nullptr, &key, &keySpec,
                                                        &callerFrees))
            return 6;
        qx::Provider owned(callerFrees ? key : 0);
        CMSG_CTRL_DECRYPT_PARA para = {};
        para.cbSize = sizeof para;
        para.hCryptProv = key;
        para.dwKeySpec = keySpec == AT_SIGNATURE ? AT_SIGNATURE : AT_KEYEXCHANGE;
        DWORD size = length;
        qx::Memory out(static_cast<BYTE*>(malloc(size)));
        if (!CryptMsgControl(msg.get(), 0, CMSG_CTRL_DECRYPT, &para) ||
            !CryptMsgGetParam(msg.get(), CMSG_CONTENT_PARAM, 0, out.get(), &size) ||
            !WriteAll(argv[5], out.get(), size))
            return 6;
        *seconds = Now() - t0;
        return 0;
    }
    return 1;
}

int Ours(const std::string& job, int argc, char** argv, double* seconds)
{
    TQXCrypt crypt;
    // A job writes its output to a free name (an old output has been moved
    // aside by its question): the output of an earlier run goes first.
    DeleteFileA(argv[argc - 1]);
    double t0 = Now();
    bool ok = false;
    if (job == "sign" && argc == 7)
        ok = crypt.SignFile(argv[3], argv[4], argv[5], argv[6]);
    else if (job == "verify" && argc == 5) {
        CertificateInfo signer = {};
        ok = crypt.VerifyFile(argv[3], argv[4], &signer);
        crypt.FreeCertificate(signer.certificate);
    } else if (job == "encrypt" && argc == 7)
        ok = crypt.EncryptFile(argv[3], argv[4], argv[5], argv[6]);
    else if (job == "decrypt" && argc == 6)
        ok = crypt.DecryptFile(argv[3], argv[4], argv[5]);
    else
        return 1;
    *seconds = Now() - t0;
    return ok ? 0 : 6;
}

// Where the time of a small file goes: n signatures of 1 KB in memory, then
// n whole files signed, with the stores kept open as a job keeps them.
int Small(int argc, char** argv)
{
    if (argc != 7)
        return 1;
    int n = atoi(argv[6]);
    TQXCrypt crypt;
    crypt.KeepStoresOpen(true);
    std::string data(1024, 'x');
    std::string folder = argv[5];
    if (!WriteAll((folder + "\\small.bin").c_str(), reinterpret_cast<const BYTE*>(data.data()),
                  1024))
        return 5;
    // The outputs are new files, as in a job.
    for (int i = 0; i < n; ++i)
        DeleteFileA((folder + "\\small" + std::to_string(i) + ".sgn").c_str());
    double t0 = Now();
    for (int i = 0; i < n; ++i) {
        BYTE* out = nullptr;
        uint32_t length = 0;
        if (!crypt.SignBuffer(argv[3], argv[4], reinterpret_cast<const BYTE*>(data.data()), 1024,
                              &out, &length))
            return 6;
        crypt.FreeBuffer(out);
    }
    double t1 = Now();
    for (int i = 0; i < n; ++i) {
        std::string out = folder + "\\small" + std::to_string(i) + ".sgn";
        if (!crypt.SignFile(argv[3], argv[4], (folder + "\\small.bin").c_str(), out.c_str()))
            return 6;
    }
    double t2 = Now();
    printf("per small file: %.2f ms signing in memory, %.2f ms signing whole files\n",
           (t1 - t0) * 1000 / n, (t2 - t1) * 1000 / n);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "small") == 0) {
        int code = Small(argc, argv);
        if (code == 0)
            return 0;
    }
    if (argc >= 3) {
        std::string road = argv[1], job = argv[2];
        double seconds = 0;
        int code = road == "ours" ? Ours(job, argc, argv, &seconds)
                   : road == "bare" ? Bare(job, argc, argv, &seconds)
                                    : 1;
        if (code == 0) {
            printf("%s %.1f ms, peak %.1f MiB\n", job.c_str(), seconds * 1000.0, PeakMiB());
            return 0;
        }
        if (code != 1) {
            fprintf(stderr, "crypt_bench %s %s failed (%d, error %lu)\n", road.c_str(),
                    job.c_str(), code, GetLastError());
            return code;
        }
    }
    fprintf(stderr,
            "usage: crypt_bench ours|bare sign STORE SUBJECT IN OUT | verify IN OUT |"
            " encrypt STORE SUBJECT IN OUT | decrypt STORE IN OUT\n");
    return 1;
}
