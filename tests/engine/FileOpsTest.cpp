// The six file operations with real certificates: output names, round trips,
// sizes (empty, worker and animation thresholds, 4 GiB), and the texts of the
// error entries.
#include "EngineFixture.h"

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

class FileOps : public EngineTest {};

TEST_F(FileOps, NamesAndRoundTripsOfAllSixOperations) {
    Set("loeschequelldatei", "Yes");
    auto job = NewJob();
    ASSERT_TRUE(job->IsBound());
    const std::string body = "report body\r\n" + tvtest::PatternBytes(3000);

    // sign / verify
    WriteFileBytes(work / "report.txt", body);
    ASSERT_TRUE(job->SignFile(1, (work / "report.txt").c_str())) << Held();
    EXPECT_TRUE(Exists(work / "report.txt.sgn"));
    EXPECT_FALSE(Exists(work / "report.txt"));  // source deleted by the setting
    ASSERT_TRUE(job->VerifyFile(1, (work / "report.txt.sgn").c_str())) << Held();
    EXPECT_EQ(ReadFileBytes(work / "report.txt"), body);
    EXPECT_FALSE(Exists(work / "report.txt.sgn"));
    EXPECT_STREQ(job->signer.subject, "Olivia Own");

    // encrypt / decrypt
    ASSERT_TRUE(job->EncryptFile(1, (work / "report.txt").c_str())) << Held();
    EXPECT_TRUE(Exists(work / "report.txt.crp"));
    ASSERT_TRUE(job->DecryptFile(1, (work / "report.txt.crp").c_str())) << Held();
    EXPECT_EQ(ReadFileBytes(work / "report.txt"), body);
    EXPECT_FALSE(Exists(work / "report.txt.crp"));

    // The input's own part keeps its case; the extension is appended in lower case.
    WriteFileBytes(work / "A.TXT", "upper");
    ASSERT_TRUE(job->SignFile(1, (work / "A.TXT").c_str())) << Held();
    std::string found;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((work / "A.TXT.*").c_str(), &fd);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    found = fd.cFileName;
    FindClose(h);
    EXPECT_EQ(found, "A.TXT.sgn");

    // pack / unpack: a.txt -> (a.txt.crp) -> a.txt.sme -> (a.txt.crp) -> a.txt
    WriteFileBytes(work / "a.txt", body);
    ASSERT_TRUE(job->PackEnvelopeFile(1, (work / "a.txt").c_str(), "Olivia Own")) << Held();
    EXPECT_TRUE(Exists(work / "a.txt.sme"));
    EXPECT_FALSE(Exists(work / "a.txt.crp"));
    EXPECT_FALSE(Exists(work / "a.txt"));
    ASSERT_TRUE(job->UnpackEnvelopeFile(1, (work / "a.txt.sme").c_str())) << Held();
    EXPECT_EQ(ReadFileBytes(work / "a.txt"), body);
    EXPECT_FALSE(Exists(work / "a.txt.crp"));
    EXPECT_FALSE(Exists(work / "a.txt.sme"));

    // Every file got one progress line with the operation's texts, and no error entry.
    EXPECT_TRUE(status.Updates(0).empty()) << status.Log();
    auto progress = status.Updates(1);
    ASSERT_EQ(progress.size(), 7u) << status.Log();
    EXPECT_EQ(Field(progress[0], "op"), "signing data... please wait!");
    EXPECT_EQ(Field(progress[0], "done"), "signed");
    EXPECT_EQ(Field(progress[0], "file"), "report.txt");
    EXPECT_EQ(Field(progress[0], "sub"), work.path().substr(work.path().find_last_of('\\') + 1));
    EXPECT_EQ(Field(progress[4], "cur"), "5");
    EXPECT_EQ(Field(progress[5], "op"), "packing digital envelope... please wait!");
    EXPECT_EQ(Field(progress[6], "done"), "digital envelope unpacked");
    // Verification and unpacking show the signer.
    auto signers = status.Updates(2);
    ASSERT_EQ(signers.size(), 2u);
    EXPECT_EQ(Field(signers[0], "detail"), "Olivia Own");
}

TEST_F(FileOps, AnInputWithTheOperationsOwnExtensionIsPassedOverButCounted) {
    auto job = NewJob();
    WriteFileBytes(work / "X.SGN", "not a message");
    EXPECT_TRUE(job->SignFile(2, (work / "X.SGN").c_str()));
    EXPECT_FALSE(Exists(work / "X.SGN.sgn"));
    EXPECT_EQ(job->done, 1u);
    auto progress = status.Updates(1);
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(Field(progress[0], "file"), "X.SGN");
    EXPECT_EQ(Field(progress[0], "total"), "2");
    // The reverse operations pass over what is not theirs.
    WriteFileBytes(work / "plain.txt", "plain");
    EXPECT_TRUE(job->VerifyFile(1, (work / "plain.txt").c_str()));
    EXPECT_TRUE(job->DecryptFile(1, (work / "plain.txt").c_str()));
    EXPECT_TRUE(job->UnpackEnvelopeFile(1, (work / "plain.txt").c_str()));
    EXPECT_EQ(ReadFileBytes(work / "plain.txt"), "plain");
    EXPECT_TRUE(status.Updates(0).empty());
}

TEST_F(FileOps, AnEmptyInputIsDoneWithoutStatusAndDeletedOnlyByTheSetting) {
    {
        auto job = NewJob();
        WriteFileBytes(work / "empty.txt", "");
        EXPECT_TRUE(job->SignFile(1, (work / "empty.txt").c_str()));
        EXPECT_TRUE(Exists(work / "empty.txt"));
        EXPECT_FALSE(Exists(work / "empty.txt.sgn"));
        EXPECT_EQ(job->done, 0u);
        EXPECT_TRUE(status.Calls("Update").empty()) << status.Log();
        EXPECT_EQ(Held(), "");
    }
    Set("loeschequelldatei", "Yes");
    auto job = NewJob();
    EXPECT_TRUE(job->EncryptFile(1, (work / "empty.txt").c_str()));
    EXPECT_FALSE(Exists(work / "empty.txt"));
    EXPECT_FALSE(Exists(work / "empty.txt.crp"));
}

TEST_F(FileOps, InputsAboveTwoMillionBytesGoThroughTheCryptWorker) {
    auto job = NewJob();
    struct Row {
        size_t size;
        int workers;
    } rows[] = {{2000000, 0}, {2000001, 1}};
    for (const Row& row : rows) {
        std::string name = "big" + std::to_string(row.size) + ".bin";
        std::string body = tvtest::PatternBytes(row.size, 7);
        WriteFileBytes(work / name, body);
        int32_t before = CurrentThreadNumber();
        ASSERT_TRUE(job->SignFile(2, (work / name).c_str())) << Held();
        EXPECT_EQ(CurrentThreadNumber() - before, row.workers) << row.size;
        tvtest::RemoveTree(work / name);
        // Verification of the result goes the same way (the .sgn is larger still).
        before = CurrentThreadNumber();
        ASSERT_TRUE(job->VerifyFile(2, (work / (name + ".sgn")).c_str())) << Held();
        EXPECT_EQ(CurrentThreadNumber() - before, 1) << row.size;
        EXPECT_EQ(ReadFileBytes(work / name), body);
        EXPECT_STREQ(job->signer.subject, "Olivia Own");
    }
}

TEST_F(FileOps, ACryptWorkerForAnUnknownStepEndsWithFalse) {
    auto job = NewJob();
    CryptRequest request{};
    int32_t before = CurrentThreadNumber();
    ASSERT_TRUE(job->RunCryptOp(OpCountFiles, &request));
    EXPECT_EQ(CurrentThreadNumber(), before + 1);
    EXPECT_FALSE(TQXCryptDir::AwaitCryptOp(&request));
    EXPECT_EQ(request.busy.load(), 0);
    EXPECT_EQ(request.result.load(), 0);
    EXPECT_EQ(TQXCryptDir::StartCryptThread(0, &request), nullptr);
    EXPECT_FALSE(job->RunCryptOp(OpSign, nullptr));
}

TEST_F(FileOps, OnlyASingleFileAboveFiveMillionBytesShowsTheAnimation) {
    // No own certificate: the operation fails after its status line, which is
    // all this test looks at.
    ownCerts->SetString(CurrentUser(), "Nobody Known");
    ownCerts->SetString("DefUsr", "Nobody Known");
    struct Row {
        size_t size;
        int32_t count;
        const char* anim;
    } rows[] = {{5000000, 1, "0"}, {5000001, 1, "1"}, {5000001, 2, "0"}};
    for (const Row& row : rows) {
        auto job = NewJob();
        std::string path = work / "anim.bin";
        WriteFileBytes(path, std::string(row.size, 'x'));
        job->SignFile(row.count, path.c_str());
        auto progress = status.Updates(1);
        ASSERT_EQ(progress.size(), 1u);
        EXPECT_EQ(Field(progress[0], "anim"), row.anim) << row.size << " / " << row.count;
    }
}

TEST_F(FileOps, AMissingCertificateGivesAnErrorEntryWithTheHeldFailureFirst) {
    ownCerts->SetString(CurrentUser(), "Nobody Known");
    ownCerts->SetString("DefUsr", "Nobody Known");
    auto job = NewJob();
    WriteFileBytes(work / "m.txt", "content");
    EXPECT_FALSE(job->SignFile(1, (work / "m.txt").c_str()));
    EXPECT_FALSE(Exists(work / "m.txt.sgn"));
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    EXPECT_EQ(Field(errors[0], "op"), "'signing data'");
    EXPECT_EQ(Field(errors[0], "done"), "signed");
    EXPECT_EQ(Field(errors[0], "anim"), "0");
    std::string detail = Field(errors[0], "detail");
    EXPECT_TRUE(StartsWith(detail, "No certificate could be found in database!")) << detail;
    EXPECT_TRUE(Has(detail, "CryptAPI")) << detail;
    EXPECT_TRUE(Has(detail, "] This file(s) could not be signed!")) << detail;
    // The entry took the failure out of the record.
    EXPECT_EQ(Held(), "");
    EXPECT_EQ(job->cancel, 0);
}

TEST_F(FileOps, ATamperedSignatureFailsWithVerificationFailed) {
    auto job = NewJob();
    WriteFileBytes(work / "t.txt", "TAMPER-ME-CONTENT-0123456789");
    ASSERT_TRUE(job->SignFile(1, (work / "t.txt").c_str())) << Held();
    tvtest::RemoveTree(work / "t.txt");
    std::string sgn = ReadFileBytes(work / "t.txt.sgn");
    size_t at = sgn.find("TAMPER-ME");
    ASSERT_NE(at, std::string::npos);
    sgn[at] = 'X';
    WriteFileBytes(work / "t.txt.sgn", sgn);
    status.Script("");
    EXPECT_FALSE(job->VerifyFile(1, (work / "t.txt.sgn").c_str()));
    EXPECT_FALSE(Exists(work / "t.txt"));
    EXPECT_TRUE(Exists(work / "t.txt.sgn"));
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    EXPECT_EQ(Field(errors[0], "op"), "'verifying data'");
    EXPECT_EQ(Field(errors[0], "done"), "verified");
    std::string detail = Field(errors[0], "detail");
    EXPECT_TRUE(StartsWith(detail, "Verification failed!")) << detail;
    EXPECT_TRUE(Has(detail, " This file(s) could not be verified!")) << detail;
}

TEST_F(FileOps, ALockedInputFailsAndTheOperationsMessageStandsTwice) {
    auto job = NewJob();
    std::string path = work / "locked.txt";
    WriteFileBytes(path, "locked content");
    HANDLE lock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(job->EncryptFile(1, path.c_str()));
    CloseHandle(lock);
    EXPECT_FALSE(Exists(path + ".crp"));
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    EXPECT_EQ(Field(errors[0], "op"), "'encrypting data'");
    std::string detail = Field(errors[0], "detail");
    const std::string message = "This file(s) could not be encrypted!";
    EXPECT_TRUE(StartsWith(detail, message)) << detail;
    EXPECT_TRUE(Has(detail, "tvCryptIF 2703]")) << detail;
    EXPECT_EQ(detail.substr(detail.size() - message.size() - 1), " " + message) << detail;
}

TEST_F(FileOps, AnInputOfFourGiBIsRefusedAndNeverDeleted) {
    Set("loeschequelldatei", "Yes");
    auto job = NewJob();
    std::string path = work / "huge.bin";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 0x100000000ll;  // low 32 bits 0
    bool made = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    if (!made || QueryFileSize(path.c_str()) != 0x100000000ull) {
        tvtest::RemoveTree(path);
        GTEST_SKIP() << "no room for a sparse file of 4 GiB here";
    }
    EXPECT_FALSE(job->SignFile(1, path.c_str()));
    EXPECT_TRUE(Exists(path));
    EXPECT_FALSE(Exists(path + ".sgn"));
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    EXPECT_TRUE(Has(Field(errors[0], "detail"), "too large")) << errors[0];
    tvtest::RemoveTree(path);
}

TEST_F(FileOps, AnOutputNameLongerThan255CharactersFailsWithoutCuttingIt) {
    auto job = NewJob();
    std::string dir = work.path() + "\\";
    std::string name(253 - dir.size(), 'n');
    std::string path = dir + name;  // 253 characters: + ".sgn" would be 257
    ASSERT_EQ(path.size(), 253u);
    WriteFileBytes(path, "long name");
    ASSERT_TRUE(Exists(path));
    EXPECT_FALSE(job->SignFile(1, path.c_str()));
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    EXPECT_TRUE(Has(Field(errors[0], "detail"), "too long")) << errors[0];
    // Nothing but the input is in the folder.
    EXPECT_EQ(tvtest::ListNames(work.path(), "*", true).size(), 1u);
}

// An envelope whose signer is held in the public store, but whose subject
// there names a different certificate first: unpacking fails and leaves
// nothing but the input.
TEST_F(FileOps, UnpackingAnEnvelopeWhoseSignerDiffersFromThePublicStoreFails) {
    tvtest::CertFixture local;
    // A second "Olivia Own" that FindCertificate finds before the real one:
    // it goes into the public store first.
    TQXCrypt crypt;
    std::string pub;
    bool impostorFirst = false;
    // The store's order is its own: try both orders of adding, with new
    // certificates, until the impostor comes first.
    for (int attempt = 0; attempt < 24 && !impostorFirst; ++attempt) {
        pub = local.NewStore("pubdiff");
        std::string scratch = local.NewStore("impostor");
        ASSERT_TRUE(local.MakePerson("Olivia Own", scratch));
        if (attempt % 2 == 0) {
            ASSERT_TRUE(local.CopyPublic("Olivia Own", scratch, pub));
            ASSERT_TRUE(local.CopyPublic("Olivia Own", Ids().own, pub));
        } else {
            ASSERT_TRUE(local.CopyPublic("Olivia Own", Ids().own, pub));
            ASSERT_TRUE(local.CopyPublic("Olivia Own", scratch, pub));
        }
        PCCERT_CONTEXT real = local.Certificate("Olivia Own", Ids().own);
        ASSERT_NE(real, nullptr);
        HCERTSTORE store = tvtest::OpenUserStore(pub);
        PCCERT_CONTEXT first = crypt.FindCertificate(store, "Olivia Own");
        impostorFirst = first && !CertCompareCertificate(X509_ASN_ENCODING, first->pCertInfo, real->pCertInfo);
        if (first) CertFreeCertificateContext(first);
        CertFreeCertificateContext(real);
        CertCloseStore(store, 0);
    }
    if (!impostorFirst) GTEST_SKIP() << "the store never listed the second certificate first";

    auto job = NewJob();
    WriteFileBytes(work / "e.txt", "enveloped");
    ASSERT_TRUE(job->PackEnvelopeFile(1, (work / "e.txt").c_str(), "Olivia Own")) << Held();
    tvtest::RemoveTree(work / "e.txt");
    Set("pubstore", pub);
    status.Script("");
    ClearLastError();
    EXPECT_FALSE(job->UnpackEnvelopeFile(1, (work / "e.txt.sme").c_str()));
    EXPECT_FALSE(Exists(work / "e.txt.crp"));
    EXPECT_TRUE(Exists(work / "e.txt.sme"));
    EXPECT_FALSE(Exists(work / "e.txt"));
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    EXPECT_EQ(Field(errors[0], "op"), "'unpacking digital envelope'");
    std::string detail = Field(errors[0], "detail");
    EXPECT_TRUE(StartsWith(detail, "The new certificate differs from the certificate in the database!"))
        << detail;
    EXPECT_TRUE(Has(detail, " This file(s) could not be verified!")) << detail;
    job.reset();
    local.Cleanup();
}

TEST_F(FileOps, ASignerOnlyInTheOwnStoreAddsNothingToThePublicStore) {
    tvtest::CertFixture local;
    std::string pub = local.NewStore("emptypub");
    Set("pubstore", pub);
    auto job = NewJob();
    WriteFileBytes(work / "o.txt", "own signature");
    ASSERT_TRUE(job->SignFile(1, (work / "o.txt").c_str())) << Held();
    tvtest::RemoveTree(work / "o.txt");
    ASSERT_TRUE(job->VerifyFile(1, (work / "o.txt.sgn").c_str())) << Held();
    EXPECT_EQ(local.CountCertificates(pub), 0);
    job.reset();
    local.Cleanup();
}

}  // namespace

namespace {

// Unpacking writes its intermediate (output + ".crp") without a question: a
// user's file of that name comes back afterwards, whatever the outcome.
TEST_F(FileOps, UnpackingKeepsAUsersFileOfTheIntermediatesName) {
    auto job = NewJob();
    WriteFileBytes(work / "k.txt", "packed");
    ASSERT_TRUE(job->PackEnvelopeFile(1, (work / "k.txt").c_str(), "Olivia Own")) << Held();
    tvtest::RemoveTree(work / "k.txt");
    WriteFileBytes(work / "k.txt.crp", "MINE");
    ASSERT_TRUE(job->UnpackEnvelopeFile(1, (work / "k.txt.sme").c_str())) << Held();
    EXPECT_EQ(ReadFileBytes(work / "k.txt"), "packed");
    EXPECT_EQ(ReadFileBytes(work / "k.txt.crp"), "MINE");
    EXPECT_TRUE(status.Calls("AskFileExist").empty());

    // A failed unpacking (no key to decrypt with) puts it back as well.
    tvtest::RemoveTree(work / "k.txt");
    tvtest::CertFixture local;
    Set("ownstore", local.NewStore("nokeys"));
    EXPECT_FALSE(job->UnpackEnvelopeFile(1, (work / "k.txt.sme").c_str()));
    EXPECT_EQ(ReadFileBytes(work / "k.txt.crp"), "MINE");
    EXPECT_FALSE(Exists(work / "k.txt"));
    job.reset();
    local.Cleanup();
}

}  // namespace

namespace {

TEST_F(FileOps, CryptWorkersAreNamedByTheirNumber) {
    EXPECT_GE(CurrentThreadNumber(), 100);
    CryptRequest request{};
    request.op = OpCountFiles;  // a step the worker refuses
    request.busy.store(1);
    CThr* thread = TQXCryptDir::StartCryptThread(123, &request);
    ASSERT_NE(thread, nullptr);
    EXPECT_STREQ(thread->record.params.name, "QXCryptProzessThr0123");
    EXPECT_EQ(thread->record.params.number, 123);
    EXPECT_EQ(thread->record.params.priority, 0);
    EXPECT_EQ(request.thread, thread);
    EXPECT_FALSE(TQXCryptDir::AwaitCryptOp(&request));
    EXPECT_EQ(request.thread, nullptr);
    EXPECT_EQ(request.busy.load(), 0);
    EXPECT_EQ(request.result.load(), 0);
}

}  // namespace

namespace {

// A self-made certificate that carries the own identity's name ("Olivia Own")
// signs a file. Whether or not its certificate would be added, a store that
// holds the real "Olivia Own" makes the verification fail, the signature is
// never called valid, and no store gains a certificate.
TEST_F(FileOps, ASignerWhoseNameAStoredCertificateOfAnotherKeyCarriesIsRefused) {
    tvtest::CertFixture local;
    std::string impostor = local.NewStore("impostor");
    std::string emptyPub = local.NewStore("emptypub");
    ASSERT_TRUE(local.MakePerson("Olivia Own", impostor));
    WriteFileBytes(work / "i.txt", "signed by someone else");
    TQXCrypt crypt;
    ASSERT_TRUE(crypt.SignFile(impostor.c_str(), "Olivia Own", (work / "i.txt").c_str(),
                               (work / "i.txt.sgn").c_str()))
        << Held();
    tvtest::RemoveTree(work / "i.txt");

    struct Row {
        const char* what;
        std::string pub;
        const char* add;
    } rows[] = {
        {"the public store holds the real one", Ids().pub, "Yes"},
        {"only the own store holds it", emptyPub, "Yes"},
        {"nothing would be added", Ids().pub, "No"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Set("pubstore", row.pub);
        Set("addpubliczert", row.add);
        int pubBefore = local.CountCertificates(row.pub);
        int ownBefore = local.CountCertificates(Ids().own);
        auto job = NewJob();
        EXPECT_FALSE(job->VerifyFile(1, (work / "i.txt.sgn").c_str()));
        EXPECT_FALSE(Exists(work / "i.txt"));
        EXPECT_TRUE(Exists(work / "i.txt.sgn"));
        EXPECT_EQ(local.CountCertificates(row.pub), pubBefore);
        EXPECT_EQ(local.CountCertificates(Ids().own), ownBefore);
        EXPECT_TRUE(status.Updates(2).empty()) << status.Log();
        auto errors = status.Updates(0);
        ASSERT_EQ(errors.size(), 1u) << status.Log();
        std::string detail = Field(errors[0], "detail");
        EXPECT_TRUE(StartsWith(detail, "The new certificate differs from the certificate in the database!"))
            << detail;
        EXPECT_TRUE(Has(detail, " This file(s) could not be verified!")) << detail;
    }

    // The real signer still verifies, and an unknown one is still added.
    Set("pubstore", emptyPub);
    Set("addpubliczert", "Yes");
    auto job = NewJob();
    WriteFileBytes(work / "real.txt", "signed by Olivia");
    ASSERT_TRUE(job->SignFile(1, (work / "real.txt").c_str())) << Held();
    tvtest::RemoveTree(work / "real.txt");
    EXPECT_TRUE(job->VerifyFile(1, (work / "real.txt.sgn").c_str())) << status.Log();
    EXPECT_EQ(ReadFileBytes(work / "real.txt"), "signed by Olivia");
    job.reset();
    local.Cleanup();
}

// A recipient name that no subject equals and that several contain names
// nobody: the envelope is refused, never made for whoever the store lists first.
TEST_F(FileOps, AnEnvelopeForANamePartOfSeveralCertificatesIsRefused) {
    tvtest::CertFixture local;
    std::string pub = local.NewStore("twopub");
    std::string scratch = local.NewStore("other");
    ASSERT_TRUE(local.MakePerson("Oliver Other", scratch));
    ASSERT_TRUE(local.CopyPublic("Oliver Other", scratch, pub));
    ASSERT_TRUE(local.CopyPublic("Olivia Own", Ids().own, pub));
    Set("pubstore", pub);
    WriteFileBytes(work / "r.txt", "for whom?");
    {
        auto job = NewJob();
        EXPECT_FALSE(job->PackEnvelopeFile(1, (work / "r.txt").c_str(), "Oliv"));
        EXPECT_FALSE(Exists(work / "r.txt.sme"));
        EXPECT_FALSE(Exists(work / "r.txt.crp"));
        EXPECT_EQ(ReadFileBytes(work / "r.txt"), "for whom?");
        auto errors = status.Updates(0);
        ASSERT_EQ(errors.size(), 1u) << status.Log();
        std::string detail = Field(errors[0], "detail");
        EXPECT_TRUE(StartsWith(detail, "The name 'Oliv' fits several certificates in database (")) << detail;
        EXPECT_TRUE(Has(detail, "'Oliver Other'")) << detail;
        EXPECT_TRUE(Has(detail, "'Olivia Own'")) << detail;
        EXPECT_TRUE(Has(detail, " This file(s) could not be enveloped!")) << detail;
    }
    auto job = NewJob();
    EXPECT_TRUE(job->PackEnvelopeFile(1, (work / "r.txt").c_str(), "olivia own")) << status.Log();
    EXPECT_TRUE(Exists(work / "r.txt.sme"));
    job.reset();
    local.Cleanup();
}

bool RunOperation(TQXCryptDir& job, uint32_t kind, const std::string& path) {
    switch (kind) {
    case OpSign: return job.SignFile(1, path.c_str());
    case OpVerify: return job.VerifyFile(1, path.c_str());
    case OpEncrypt: return job.EncryptFile(1, path.c_str());
    case OpDecrypt: return job.DecryptFile(1, path.c_str());
    case OpUnpackEnvelope: return job.UnpackEnvelopeFile(1, path.c_str());
    case OpPackEnvelope: return job.PackEnvelopeFile(1, path.c_str(), "Olivia Own");
    default: return false;
    }
}

// An input that is not there fails every operation, and an empty file is no
// message to verify, decrypt or unpack: an error entry names the file and the
// cause, and nothing is written or deleted.
TEST_F(FileOps, AMissingInputOrAnEmptyMessageIsAnErrorThatNamesIt) {
    const char* const kMissing = "This file does not exist!";
    const char* const kEmpty = "This file is empty!";
    struct Row {
        uint32_t kind;
        const char* name;
        const char* reason;
        const char* failure;
    } rows[] = {
        {OpSign, "gone.txt", kMissing, "This file(s) could not be signed!"},
        {OpEncrypt, "gone.txt", kMissing, "This file(s) could not be encrypted!"},
        {OpPackEnvelope, "gone.txt", kMissing, "This file(s) could not be enveloped!"},
        {OpVerify, "gone.txt.sgn", kMissing, "This file(s) could not be verified!"},
        {OpDecrypt, "gone.txt.crp", kMissing, "This file(s) could not be decrypted!"},
        {OpUnpackEnvelope, "gone.txt.sme", kMissing, "This file(s) could not be verified!"},
        {OpVerify, "empty.txt.sgn", kEmpty, "This file(s) could not be verified!"},
        {OpDecrypt, "empty.txt.crp", kEmpty, "This file(s) could not be decrypted!"},
        {OpUnpackEnvelope, "empty.txt.sme", kEmpty, "This file(s) could not be verified!"},
    };
    Set("loeschequelldatei", "Yes");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string input = work / row.name;
        if (row.reason == kEmpty) WriteFileBytes(input, "");
        auto job = NewJob();
        EXPECT_FALSE(RunOperation(*job, row.kind, input));
        EXPECT_EQ(job->done, 0u);
        EXPECT_EQ(Exists(input), row.reason == kEmpty);
        EXPECT_FALSE(Exists(work / "gone.txt"));
        EXPECT_FALSE(Exists(work / "empty.txt"));
        auto errors = status.Updates(0);
        ASSERT_EQ(errors.size(), 1u) << status.Log();
        std::string detail = Field(errors[0], "detail");
        EXPECT_TRUE(StartsWith(detail, "This file '" + input + "' could not be read! - (" +
                                           row.reason + ")"))
            << detail;
        EXPECT_TRUE(Has(detail, " " + std::string(row.failure))) << detail;
        EXPECT_EQ(Held(), "");
        tvtest::RemoveTree(input);
    }
}

// A signed message whose content is empty is a valid message: it verifies to
// an empty file.
TEST_F(FileOps, ASignedEmptyContentVerifiesToAnEmptyFile) {
    std::string message = ReadFileBytes(tvtest::CertFixture::DataDir() + "\\carol-empty.sgn");
    ASSERT_FALSE(message.empty());
    WriteFileBytes(work / "blank.txt.sgn", message);
    WriteFileBytes(work / "blank.txt", "an older output");
    Set("addpubliczert", "No");
    auto job = NewJob("exist=0");  // the older output may be replaced
    EXPECT_TRUE(job->VerifyFile(1, (work / "blank.txt.sgn").c_str())) << status.Log();
    EXPECT_TRUE(Exists(work / "blank.txt"));
    EXPECT_EQ(ReadFileBytes(work / "blank.txt"), "");
    EXPECT_EQ(status.Updates(2).size(), 1u) << status.Log();
    EXPECT_TRUE(status.Updates(0).empty()) << status.Log();
}

}  // namespace
