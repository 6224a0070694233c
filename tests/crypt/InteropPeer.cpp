// The Windows side of the openssl interop test (driven by interop.sh).
//
//   crypt_interop_peer exchange CERT_DIR WORK_DIR
//     imports carol-modern.p12 into a store of its own, then
//       makes  WORK_DIR\data-N.sgn, .crp and .sme (for and by "Carol Interop")
//       reads  WORK_DIR\ossl-N.sgn -> ossl-N.sgn.out, ossl-N.crp -> ossl-N.crp.out
//     for every WORK_DIR\data-N (N = 1, 2, ...), and removes its store and keys.
//   crypt_interop_peer measure MiB...
//     signs, verifies, encrypts and decrypts messages of each size (MiB, or bytes
//     when above 100,000) in memory
//     and prints what worked (for finding the platform's size limit by hand).
#include "CertFixture.h"
#include "CryptAPI.h"
#include "QXTools.h"
#include "TestFiles.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kWho[] = "Carol Interop";

int Fail(const std::string& what)
{
    ErrorRecord r;
    GetLastErrorInfo(&r);
    std::printf("FAILED: %s: %s\n", what.c_str(), r.set ? r.text : "(no error record)");
    return 1;
}

int Exchange(const std::string& certDir, const std::string& work)
{
    tvtest::CertFixture certs;
    std::string store = certs.NewStore("interop");
    if (!certs.ImportPfx(certDir + "\\carol-modern.p12", "test", store))
        return Fail("import carol-modern.p12");

    int failures = 0;
    for (int n = 1;; ++n) {
        std::string data = work + "\\data-" + std::to_string(n);
        if (!tvtest::Exists(data))
            break;
        TQXCrypt crypt;
        if (!crypt.SignFile(store.c_str(), kWho, data.c_str(), (data + ".sgn").c_str()))
            failures += Fail("sign " + data);
        if (!crypt.EncryptFile(store.c_str(), kWho, data.c_str(), (data + ".crp").c_str()))
            failures += Fail("encrypt " + data);
        // The envelope: the enveloped message, signed.
        if (!crypt.SignFile(store.c_str(), kWho, (data + ".crp").c_str(), (data + ".sme").c_str()))
            failures += Fail("envelope " + data);

        std::string ossl = work + "\\ossl-" + std::to_string(n);
        CertificateInfo signer = {};
        if (!crypt.VerifyFile((ossl + ".sgn").c_str(), (ossl + ".sgn.out").c_str(), &signer))
            failures += Fail("verify " + ossl + ".sgn");
        else if (std::string(signer.subject) != kWho)
            failures += Fail(std::string("signer is ") + signer.subject);
        if (signer.certificate)
            crypt.FreeCertificate(signer.certificate);
        if (!crypt.DecryptFile(store.c_str(), (ossl + ".crp").c_str(), (ossl + ".crp.out").c_str()))
            failures += Fail("decrypt " + ossl + ".crp (" + certs.KeyState(kWho, store) + ")");
    }
    return failures == 0 ? 0 : 1;
}

int Measure(int argc, char** argv)
{
    tvtest::CertFixture certs;
    std::string store = certs.NewStore("measure");
    if (!certs.MakePerson("Size Test", store))
        return Fail("make person");
    for (int i = 0; i < argc; ++i) {
        // A number above 100,000 is a byte count, else MiB.
        double value = std::atof(argv[i]);
        uint32_t size = static_cast<uint32_t>(value > 100000 ? value : value * 1024 * 1024);
        double mib = size / 1048576.0;
        std::string input = tvtest::PatternBytes(size, 11);
        const BYTE* data = reinterpret_cast<const BYTE*>(input.data());
        TQXCrypt crypt;
        BYTE* msg = nullptr;
        uint32_t msgLength = 0;
        BYTE* back = nullptr;
        uint32_t backLength = 0;
        bool signedOk = crypt.SignBuffer(store.c_str(), "Size Test", data, size, &msg, &msgLength);
        bool verifiedOk = signedOk &&
                          crypt.VerifyBuffer(msg, msgLength, &back, &backLength, nullptr, false) &&
                          backLength == size;
        uint32_t signedLength = msgLength;
        crypt.FreeBuffer(msg);
        crypt.FreeBuffer(back);
        ClearLastError();
        bool encryptedOk =
            crypt.EncryptBuffer(store.c_str(), "Size Test", data, size, &msg, &msgLength);
        bool decryptedOk = encryptedOk &&
                           crypt.DecryptBuffer(store.c_str(), msg, msgLength, &back, &backLength) &&
                           backLength == size;
        ErrorRecord r;
        GetLastErrorInfo(&r);
        std::printf("%10u bytes (%.2f MiB): sign %d (%u) verify %d  encrypt %d (%u) decrypt %d %s\n",
                    size, mib, signedOk, signedLength, verifiedOk, encryptedOk, msgLength,
                    decryptedOk, r.set ? r.text : "");
        std::fflush(stdout);
        crypt.FreeBuffer(msg);
        crypt.FreeBuffer(back);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exchange" && argc == 4)
        return Exchange(argv[2], argv[3]);
    if (mode == "measure")
        return Measure(argc - 2, argv + 2);
    std::printf("usage: crypt_interop_peer exchange CERT_DIR WORK_DIR | measure MiB...\n");
    return 2;
}
