// The user's files around a file operation: old outputs and files of an
// intermediate's name survive every outcome, an output that cannot be read
// still counts as existing, a file saved at an old output's name meanwhile is
// never replaced, and an old output that can be neither put back nor removed
// is named where it lies.
#include "EngineFixture.h"
#include "WindowDriver.h"

#include <functional>

using namespace enginetest;
using tvtest::Exists;
using tvtest::ReadFileBytes;
using tvtest::WriteFileBytes;

namespace {

// Files of the folder whose names begin with the prefix.
std::vector<std::string> FilesLike(const std::string& folder, const std::string& prefix) {
    return tvtest::ListNames(folder, prefix + "*", true);
}

// A file held open by "another program" with the given sharing.
class HeldFile {
public:
    HeldFile(const std::string& path, DWORD share)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~HeldFile() { Release(); }
    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Release() {
        if (ok()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// Runs an action of the test in the middle of an operation: the free-space
// query that every whole-file write makes first. Restored at the end.
class DuringWrite {
public:
    explicit DuringWrite(std::function<bool()> action) {
        Action() = std::move(action);
        SetDiskFreeQuery(&Query);
    }
    ~DuringWrite() {
        SetDiskFreeQuery(nullptr);
        Action() = nullptr;
    }

private:
    static std::function<bool()>& Action() {
        static std::function<bool()> action;
        return action;
    }
    // The action's false makes the drive look full, so the write fails.
    static BOOL WINAPI Query(LPCSTR where, PULARGE_INTEGER available, PULARGE_INTEGER total,
                             PULARGE_INTEGER free) {
        bool room = Action() ? Action()() : true;
        BOOL ok = GetDiskFreeSpaceExA(where, available, total, free);
        if (!room && available) available->QuadPart = 0;
        return ok;
    }
};

class Outputs : public EngineTest {
protected:
    void UnknownOwnCertificate() {
        ownCerts->SetString(CurrentUser(), "Nobody Known");
        ownCerts->SetString("DefUsr", "Nobody Known");
    }
    std::vector<std::string> Aside() const { return FilesLike(work.path(), "~tv"); }

    // The one old output left beside its name: visible, with its content, and
    // named by the job's one error entry, whose detail this gives.
    std::string OldOutputLeftAside(std::string* name) {
        auto aside = Aside();
        if (aside.size() != 1u) {
            ADD_FAILURE() << aside.size() << " files aside";
            return "";
        }
        *name = aside[0];
        EXPECT_EQ(ReadFileBytes(work / aside[0]), "OLD SIGNATURE");
        EXPECT_EQ(GetFileAttributesA((work / aside[0]).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
        auto errors = status.Updates(0);
        EXPECT_EQ(errors.size(), 1u) << status.Log();
        std::string detail = errors.empty() ? "" : Field(errors[0], "detail");
        EXPECT_TRUE(Has(detail, aside[0])) << detail;
        return detail;
    }
};

// --- packing ----------------------------------------------------------------

struct PackRow {
    const char* name;
    const char* recipient;
    bool ownKnown;
    bool packs;
};

TEST_F(Outputs, PackingKeepsTheUsersIntermediateAndReplacesAnOldEnvelopeOnlyWhenPacked) {
    const PackRow rows[] = {
        {"packed", "Olivia Own", true, true},
        {"encryption fails", "Nobody Known", true, false},
        {"signing fails", "Olivia Own", false, false},
    };
    Set("loeschequelldatei", "Yes");
    for (const PackRow& row : rows) {
        SCOPED_TRACE(row.name);
        if (!row.ownKnown) UnknownOwnCertificate();
        WriteFileBytes(work / "x", "packed content");
        WriteFileBytes(work / "x.crp", "MY CRP");
        WriteFileBytes(work / "x.sme", "OLD SME");
        SetFileAttributesA((work / "x.crp").c_str(), FILE_ATTRIBUTE_READONLY);
        auto job = NewJob("exist=0");

        EXPECT_EQ(job->PackEnvelopeFile(1, (work / "x").c_str(), row.recipient), row.packs) << Held();

        // Neither name is asked about; the user's x.crp comes back as it was.
        EXPECT_TRUE(status.Calls("AskFileExist").empty()) << status.Log();
        EXPECT_EQ(ReadFileBytes(work / "x.crp"), "MY CRP");
        EXPECT_NE(GetFileAttributesA((work / "x.crp").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_EQ(Exists(work / "x"), !row.packs);  // the source goes only with success
        if (row.packs) {
            EXPECT_NE(ReadFileBytes(work / "x.sme"), "OLD SME");
            EXPECT_TRUE(status.Updates(0).empty()) << status.Log();
        } else {
            EXPECT_EQ(ReadFileBytes(work / "x.sme"), "OLD SME");
            EXPECT_EQ(status.Updates(0).size(), 1u) << status.Log();
        }
        EXPECT_TRUE(Aside().empty());
        job.reset();

        if (row.packs) {
            // The new envelope is whole: it unpacks, and x.crp survives that too.
            auto unpack = NewJob();
            ASSERT_TRUE(unpack->UnpackEnvelopeFile(1, (work / "x.sme").c_str())) << Held();
            EXPECT_EQ(ReadFileBytes(work / "x"), "packed content");
            EXPECT_EQ(ReadFileBytes(work / "x.crp"), "MY CRP");
        }
        for (const char* name : {"x", "x.crp", "x.sme"}) tvtest::RemoveTree(work / name);
    }
}

// --- intermediates of failed envelope operations -----------------------------

enum class Failure { RefusedSigner, NoKeyToDecrypt, OwnCertificateUnnamed, OwnCertificateUnknown };

struct IntermediateRow {
    const char* name;
    uint32_t kind;
    Failure failure;
    bool usersFile;  // a file of the user's has the intermediate's name (x.crp)
    const char* delSecure;
};

// Every step after the intermediate x.crp was written fails in one row: the
// intermediate goes (wiped with "delsecure"), and a user's own x.crp comes
// back as it was. Nothing but the user's files is left.
TEST_F(Outputs, AFailedEnvelopeOperationLeavesNoIntermediateBehind) {
    const IntermediateRow rows[] = {
        {"unpack, signer refused", OpUnpackEnvelope, Failure::RefusedSigner, false, "No"},
        {"unpack, signer refused, wiped", OpUnpackEnvelope, Failure::RefusedSigner, false, "Yes"},
        {"unpack, signer refused, user's x.crp", OpUnpackEnvelope, Failure::RefusedSigner, true, "Yes"},
        {"unpack, no key to decrypt", OpUnpackEnvelope, Failure::NoKeyToDecrypt, false, "No"},
        {"pack, own certificate unnamed", OpPackEnvelope, Failure::OwnCertificateUnnamed, false, "Yes"},
        {"pack, own certificate unnamed, user's x.crp", OpPackEnvelope, Failure::OwnCertificateUnnamed,
         true, "No"},
        {"pack, own certificate unknown", OpPackEnvelope, Failure::OwnCertificateUnknown, false, "No"},
    };
    // Two envelopes for "Olivia Own": one signed by her, one by a self-made
    // certificate that carries her name.
    tvtest::CertFixture local;
    std::string impostor = local.NewStore("impostor");
    ASSERT_TRUE(local.MakePerson("Olivia Own", impostor));
    std::string noKeys = local.NewStore("nokeys");
    const std::string content = "enveloped content";
    std::string genuine, forged;
    {
        TQXCrypt crypt;
        std::string plain = work / "plain", middle = work / "plain.crp", sme = work / "plain.sme";
        WriteFileBytes(plain, content);
        ASSERT_TRUE(crypt.EncryptFile(Ids().pub.c_str(), "Olivia Own", plain.c_str(), middle.c_str())) << Held();
        ASSERT_TRUE(crypt.SignFile(Ids().own.c_str(), "Olivia Own", middle.c_str(), sme.c_str())) << Held();
        genuine = ReadFileBytes(sme);
        tvtest::RemoveTree(sme);
        ASSERT_TRUE(crypt.SignFile(impostor.c_str(), "Olivia Own", middle.c_str(), sme.c_str())) << Held();
        forged = ReadFileBytes(sme);
        for (const std::string& name : {plain, middle, sme}) tvtest::RemoveTree(name);
    }

    for (const IntermediateRow& row : rows) {
        SCOPED_TRACE(row.name);
        Set("delsecure", row.delSecure);
        Set("ownstore", row.failure == Failure::NoKeyToDecrypt ? noKeys : Ids().own);
        if (row.failure == Failure::OwnCertificateUnnamed) {
            ownCerts->Remove(CurrentUser());
            ownCerts->Remove("DefUsr");
        } else if (row.failure == Failure::OwnCertificateUnknown) {
            UnknownOwnCertificate();
        }
        bool unpack = row.kind == OpUnpackEnvelope;
        std::string input = work / (unpack ? "x.sme" : "x");
        WriteFileBytes(input, unpack ? (row.failure == Failure::RefusedSigner ? forged : genuine) : content);
        std::vector<std::string> expected = {unpack ? "x.sme" : "x"};
        if (row.usersFile) {
            WriteFileBytes(work / "x.crp", "MY CRP");
            SetFileAttributesA((work / "x.crp").c_str(), FILE_ATTRIBUTE_READONLY);
            expected = {"x", "x.crp"};
            if (unpack) expected = {"x.crp", "x.sme"};
        }
        auto job = NewJob();

        EXPECT_FALSE(unpack ? job->UnpackEnvelopeFile(1, input.c_str())
                            : job->PackEnvelopeFile(1, input.c_str(), "Olivia Own"));

        EXPECT_EQ(tvtest::ListNames(work.path(), "*", true), expected);
        if (row.usersFile) {
            EXPECT_EQ(ReadFileBytes(work / "x.crp"), "MY CRP");
            EXPECT_NE(GetFileAttributesA((work / "x.crp").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        }
        auto errors = status.Updates(0);
        ASSERT_EQ(errors.size(), 1u) << status.Log();
        if (row.failure == Failure::RefusedSigner) {
            std::string detail = Field(errors[0], "detail");
            EXPECT_TRUE(StartsWith(detail, "The new certificate differs from the certificate in the database!"))
                << detail;
        }
        job.reset();
        for (const char* name : {"x", "x.crp", "x.sme"}) tvtest::RemoveTree(work / name);
        ownCerts->SetString(CurrentUser(), "Olivia Own");
        ownCerts->SetString("DefUsr", "Olivia Own");
    }
    local.Cleanup();
}

// --- outputs that cannot be read ---------------------------------------------

struct HeldRow {
    const char* name;
    DWORD share;       // how the other program holds the old output
    int answer;        // to the overwrite question
    bool signs;        // the operation succeeds
    bool errorEntry;
};

TEST_F(Outputs, AnOutputThatCannotBeReadIsAskedAboutAndNeverReplacedWithoutYes) {
    const HeldRow rows[] = {
        // Unreadable but deletable: taken as absent, it used to be replaced unasked.
        {"no read sharing, No", FILE_SHARE_DELETE, AnswerNo, false, false},
        {"no read sharing, Yes", FILE_SHARE_DELETE, AnswerYes, true, false},
        {"no sharing at all, No", 0, AnswerNo, false, false},
        // It cannot be moved aside: the file fails with a clear error.
        {"no sharing at all, Yes", 0, AnswerYes, false, true},
    };
    for (const HeldRow& row : rows) {
        SCOPED_TRACE(row.name);
        WriteFileBytes(work / "u.txt", "input");
        WriteFileBytes(work / "u.txt.sgn", "HELD");
        HeldFile hold(work / "u.txt.sgn", row.share);
        ASSERT_TRUE(hold.ok());
        ASSERT_FALSE(FileCanRead((work / "u.txt.sgn").c_str()));
        auto job = NewJob("exist=" + std::to_string(row.answer));

        EXPECT_EQ(job->SignFile(1, (work / "u.txt").c_str()), row.signs) << Held();
        hold.Release();

        auto questions = status.Calls("AskFileExist");
        ASSERT_EQ(questions.size(), 1u) << status.Log();
        EXPECT_EQ(Field(questions[0], "file"), "u.txt.sgn");
        if (row.signs) {
            EXPECT_NE(ReadFileBytes(work / "u.txt.sgn"), "HELD");
        } else {
            EXPECT_EQ(ReadFileBytes(work / "u.txt.sgn"), "HELD");
        }
        auto errors = status.Updates(0);
        ASSERT_EQ(errors.size(), row.errorEntry ? 1u : 0u) << status.Log();
        if (row.errorEntry) {
            std::string detail = Field(errors[0], "detail");
            EXPECT_TRUE(Has(detail, "u.txt.sgn' could not be remove!")) << detail;
        }
        EXPECT_EQ(ReadFileBytes(work / "u.txt"), "input");
        EXPECT_TRUE(Aside().empty());
        job.reset();
        tvtest::RemoveTree(work / "u.txt.sgn");
    }
}

TEST_F(Outputs, AFailedOperationNeverDeletesAnOutputItDidNotWrite) {
    // The signature step fails (no own certificate) after Yes: the unreadable
    // old output is back, whole.
    UnknownOwnCertificate();
    WriteFileBytes(work / "f.txt", "input");
    WriteFileBytes(work / "f.txt.sgn", "HELD");
    {
        HeldFile hold(work / "f.txt.sgn", FILE_SHARE_DELETE);
        ASSERT_TRUE(hold.ok());
        auto job = NewJob("exist=0");
        EXPECT_FALSE(job->SignFile(1, (work / "f.txt").c_str()));
        EXPECT_EQ(status.Calls("AskFileExist").size(), 1u) << status.Log();
    }
    EXPECT_EQ(ReadFileBytes(work / "f.txt.sgn"), "HELD");
    EXPECT_TRUE(Aside().empty());

    // A folder of the output's name is not moved away: the file fails unasked.
    tvtest::MakeDir(work / "d.txt.sgn");
    WriteFileBytes(work / "d.txt.sgn\\inside", "kept");
    WriteFileBytes(work / "d.txt", "input");
    auto job = NewJob("exist=0");
    EXPECT_FALSE(job->SignFile(1, (work / "d.txt").c_str()));
    EXPECT_TRUE(status.Calls("AskFileExist").empty()) << status.Log();
    EXPECT_EQ(ReadFileBytes(work / "d.txt.sgn\\inside"), "kept");
    EXPECT_EQ(status.Updates(0).size(), 1u) << status.Log();
}

// --- a file saved under the old output's name while the job waits -----------

TEST_F(Outputs, AFileSavedUnderTheNameMeanwhileStaysAndTheOldOutputIsNamedBesideIt) {
    WriteFileBytes(work / "q.txt", "input");
    WriteFileBytes(work / "q.txt.sgn", "OLD SIGNATURE");
    SetFileAttributesA((work / "q.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    // Yes to the overwrite question moves the old output aside. While the job
    // waits at the read-only question that follows, another program saves a
    // file of that name; then the user answers No.
    std::string hold = tvtest::UniqueName("saved");
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, (hold + "-held").c_str());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, (hold + "-go").c_str());
    ASSERT_TRUE(held && go);
    auto job = NewJob("hold=" + hold + ";hold_at=2;exist=" + std::to_string(AnswerYes) +
                      ";readonly=" + std::to_string(AnswerNo));
    bool saved = false;
    bool signs = tvtest::WhileDriving(
        [&] {
            saved = WaitForSingleObject(held, tvtest::kWaitMs) == WAIT_OBJECT_0 &&
                    !Exists(work / "q.txt.sgn") && Aside().size() == 1;
            if (saved) WriteFileBytes(work / "q.txt.sgn", "SAVED MEANWHILE");
            SetEvent(go);
        },
        [&] { return job->SignFile(1, (work / "q.txt").c_str()); });
    CloseHandle(held);
    CloseHandle(go);
    ASSERT_TRUE(saved) << "the job was not held with its old output aside\n" << status.Log();
    EXPECT_FALSE(signs);
    EXPECT_EQ(status.Calls("AskReadOnly").size(), 1u) << status.Log();

    // The saved file keeps the name; the old output lies visibly beside it,
    // under the name that the error entry gives.
    EXPECT_EQ(ReadFileBytes(work / "q.txt.sgn"), "SAVED MEANWHILE");
    std::string aside;
    std::string detail = OldOutputLeftAside(&aside);
    EXPECT_TRUE(Has(detail, "q.txt.sgn' could not be restored!")) << detail;
    job.reset();
    EXPECT_EQ(ReadFileBytes(work / "q.txt.sgn"), "SAVED MEANWHILE");
    EXPECT_EQ(Aside(), std::vector<std::string>{aside});
    SetFileAttributesA((work / "q.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// --- old outputs that can be neither put back nor removed --------------------

TEST_F(Outputs, AnOldOutputThatCannotBePutBackIsNamedUnderItsTemporaryName) {
    WriteFileBytes(work / "s.txt", "new content");
    WriteFileBytes(work / "s.txt.sgn", "OLD SIGNATURE");
    // While the new output is written, another program takes the name and
    // holds it; the drive runs full, so the operation fails.
    std::unique_ptr<HeldFile> squatter;
    auto job = NewJob("exist=0");
    {
        DuringWrite during([&] {
            WriteFileBytes(work / "s.txt.sgn", "SQUATTER");
            squatter = std::make_unique<HeldFile>(work / "s.txt.sgn", 0);
            return false;
        });
        EXPECT_FALSE(job->SignFile(1, (work / "s.txt").c_str()));
    }
    ASSERT_TRUE(squatter && squatter->ok());
    squatter.reset();

    auto aside = Aside();
    ASSERT_EQ(aside.size(), 1u);
    std::string kept = work / aside[0];
    EXPECT_EQ(ReadFileBytes(kept), "OLD SIGNATURE");
    EXPECT_EQ(GetFileAttributesA(kept.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    auto errors = status.Updates(0);
    ASSERT_EQ(errors.size(), 1u) << status.Log();
    std::string detail = Field(errors[0], "detail");
    EXPECT_TRUE(Has(detail, "s.txt.sgn' could not be restored!")) << detail;
    EXPECT_TRUE(Has(detail, aside[0])) << detail;
    EXPECT_TRUE(Has(detail, "This file(s) could not be signed!")) << detail;
}

TEST_F(Outputs, AnOldOutputThatCannotBeRemovedAfterSuccessFailsTheFileAndIsNamed) {
    WriteFileBytes(work / "r.txt", "new content");
    WriteFileBytes(work / "r.txt.sgn", "OLD SIGNATURE");
    // While the new output is written, another program opens the old one
    // where it was moved aside.
    std::unique_ptr<HeldFile> reader;
    auto job = NewJob("exist=0");
    {
        DuringWrite during([&] {
            auto aside = Aside();
            if (aside.size() == 1) reader = std::make_unique<HeldFile>(work / aside[0], 0);
            return true;
        });
        EXPECT_FALSE(job->SignFile(1, (work / "r.txt").c_str()));
    }
    ASSERT_TRUE(reader && reader->ok());
    reader.reset();

    // The new output is complete; the old one lies visibly under the name told.
    std::string signedText = ReadFileBytes(work / "r.txt.sgn");
    EXPECT_NE(signedText, "OLD SIGNATURE");
    EXPECT_TRUE(Has(signedText, "new content"));
    std::string aside;
    std::string detail = OldOutputLeftAside(&aside);
    EXPECT_TRUE(Has(detail, "The old file '")) << detail;
    EXPECT_EQ(job->cancel, 0);
}

}  // namespace
