#include "TransferFixture.h"

#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "QXDialogIds.h"
#include "QXForms.h"
#include "QXTools.h"
#include "WindowDriver.h"

namespace tvtransfer {

const char* const TransferTest::kAlice = "Alice Transfer";
const char* const TransferTest::kBob = "Bob Transfer";
std::string TransferTest::aliceStore;
std::string TransferTest::bobStore;
std::string TransferTest::pubStore;
std::unique_ptr<tvtest::CertFixture> TransferTest::certs_;

// --- TransferTest ------------------------------------------------------------

void TransferTest::SetUpTestSuite() {
    certs_ = std::make_unique<tvtest::CertFixture>();
    aliceStore = certs_->NewStore("alice");
    bobStore = certs_->NewStore("bob");
    pubStore = certs_->NewStore("pub");
    ASSERT_TRUE(certs_->MakePerson(kAlice, aliceStore));
    ASSERT_TRUE(certs_->MakePerson(kBob, bobStore));
    ASSERT_TRUE(certs_->CopyPublic(kAlice, aliceStore, pubStore));
    ASSERT_TRUE(certs_->CopyPublic(kBob, bobStore, pubStore));
}

void TransferTest::TearDownTestSuite() { certs_.reset(); }

void TransferTest::SetUp() {
    settings = std::make_unique<tvtest::RegistryValues>();
    std::string bin = BinDir();
    Set("statusdll", bin + "\\tvstatus.dll");
    Set("secureavi", bin + "\\secure.avi");
    Set("tvcryptdll", bin + "\\tvcryptc.dll");
    Set("pubstore", pubStore);
    Set("ownstore", aliceStore);
    // A quiet job: originals kept, nothing zipped, opened or mailed.
    const char* switches[][2] = {
        {"loeschequelldatei", "No"}, {"addpubliczert", "Yes"}, {"openfilesonly", "No"},
        {"openfilessave", "Yes"},    {"zipfile", "No"},        {"unzipfile", "No"},
        {"showpkcs12", "No"},        {"smeviaemail", "No"},    {"asksmeemail", "No"},
        {"delsecure", "No"},         {"firsttime", "No"},
    };
    for (auto& entry : switches) Set(entry[0], entry[1]);
    ownCertificates = std::make_unique<tvtest::RegistryValues>(
        HKEY_CURRENT_USER, "software\\Quorvex\\Own Certificates");
    UseOwnCertificate(kAlice, aliceStore);

    // Outside the temporary folder, whose inputs the job always deletes.
    work_ = "C:\\" + tvtest::UniqueName("tvtransfer");
    tvtest::MakeDir(work_);
}

void TransferTest::TearDown() {
    tvtest::RemoveTree(work_);
    ownCertificates.reset();
    settings.reset();
}

void TransferTest::Set(const std::string& name, const std::string& value) {
    ASSERT_TRUE(settings->SetString(name, value)) << name;
}

void TransferTest::UseOwnCertificate(const std::string& subject, const std::string& store) {
    char user[64] = {0};
    if (!GetCurrentUserName(user) || user[0] == 0) strcpy(user, "DefUsr");
    ClearLastError();
    ASSERT_TRUE(ownCertificates->SetString(user, subject));
    Set("ownstore", store);
}

int TransferTest::RunTransfer(const std::string& arguments, DWORD timeoutMs) {
    TransferProcess process(arguments, work_);
    EXPECT_TRUE(process.started()) << arguments;
    return process.Wait(timeoutMs);
}

bool TransferTest::VerifiedContent(const std::string& signedPath, std::string* content) {
    std::string message = tvtest::ReadFileBytes(signedPath);
    if (message.empty()) return false;
    CRYPT_VERIFY_MESSAGE_PARA para = {};
    para.cbSize = sizeof(para);
    para.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    const BYTE* data = reinterpret_cast<const BYTE*>(message.data());
    DWORD size = 0;
    if (!CryptVerifyMessageSignature(&para, 0, data, static_cast<DWORD>(message.size()), nullptr,
                                     &size, nullptr)) {
        return false;
    }
    content->assign(size, '\0');
    if (!CryptVerifyMessageSignature(&para, 0, data, static_cast<DWORD>(message.size()),
                                     reinterpret_cast<BYTE*>(&(*content)[0]), &size, nullptr)) {
        return false;
    }
    content->resize(size);
    return true;
}

namespace {

void CollectFiles(const std::string& folder, const std::string& prefix,
                  std::vector<std::string>* out) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectFiles(folder + "\\" + name, prefix + name + "\\", out);
        } else {
            out->push_back(prefix + name);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

}  // namespace

std::vector<std::string> TransferTest::FilesBelow(const std::string& folder) {
    std::vector<std::string> files;
    CollectFiles(folder, "", &files);
    std::sort(files.begin(), files.end());
    return files;
}

// --- DialogAnswerer ----------------------------------------------------------

namespace {

struct OwnDialogs {
    std::vector<HWND> found;
};

BOOL CALLBACK CollectOwnDialogs(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && IsWindowEnabled(window)) {
        reinterpret_cast<OwnDialogs*>(param)->found.push_back(window);
    }
    return TRUE;
}

bool StartsWith(const std::string& text, const std::string& head) {
    return text.compare(0, head.size(), head) == 0;
}

}  // namespace

DialogAnswerer::DialogAnswerer(int yesNoAllButton)
    : yesNoAllButton_(yesNoAllButton), thread_([this] { Loop(); }) {}

DialogAnswerer::~DialogAnswerer() {
    stop_ = true;
    thread_.join();
}

std::vector<std::string> DialogAnswerer::Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void DialogAnswerer::Loop() {
    std::map<HWND, DWORD> answered;
    while (!stop_) {
        OwnDialogs dialogs;
        EnumWindows(CollectOwnDialogs, reinterpret_cast<LPARAM>(&dialogs));
        for (HWND window : dialogs.found) {
            auto seen = answered.find(window);
            if (seen != answered.end() && GetTickCount() - seen->second < 1500) continue;
            std::string cls = tvtest::ClassOf(window);
            std::string text;
            int button = 0;
            if (StartsWith(cls, "TQXDlgOkHilfe.")) {
                text = tvtest::ChildText(window, IDC_OKHELP_TEXT);
                button = IDC_OKHELP_OK;
            } else if (StartsWith(cls, "TDYesNoAll.")) {
                text = tvtest::ChildText(window, IDC_YESNOALL_TEXT);
                button = yesNoAllButton_;
            } else {
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_.push_back(tvtest::TextOf(window) + ": " + text);
            }
            answered[window] = GetTickCount();
            tvtest::ClickChild(window, button);
        }
        Sleep(30);
    }
}

}  // namespace tvtransfer
