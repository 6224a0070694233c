#include "RunnerFixture.h"

#include <chrono>
#include <set>

#include "QXOleAPI.h"
#include "QXTools.h"
#include "WindowDriver.h"
#include "tvCryptIF.h"

namespace tvrun {

namespace {

typedef void(WINAPI* ResetFn)(const char*);
typedef const char*(WINAPI* LogFn)();

struct BoxSearch {
    std::vector<HWND> found;
};

BOOL CALLBACK CollectBoxes(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (tvtest::ClassOf(window) != "#32770" || !GetDlgItem(window, 0xFFFF)) return TRUE;
    reinterpret_cast<BoxSearch*>(param)->found.push_back(window);
    return TRUE;
}

bool OwnedHere(HWND box) {
    HWND owner = GetWindow(box, GW_OWNER);
    if (!owner) return true;
    DWORD process = 0;
    GetWindowThreadProcessId(owner, &process);
    return process == GetCurrentProcessId();
}

}  // namespace

std::string ExeDir() {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, sizeof path);
    char* slash = strrchr(path, '\\');
    if (slash) *slash = 0;
    return path;
}

// --- BoxAnswerer -----------------------------------------------------------------

BoxAnswerer::BoxAnswerer() : thread_([this] { Loop(); }) {}

BoxAnswerer::~BoxAnswerer() {
    stop_ = true;
    thread_.join();
}

void BoxAnswerer::Script(std::vector<int> answers, int fallback) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.assign(answers.begin(), answers.end());
    fallback_ = fallback;
}

std::vector<SeenBox> BoxAnswerer::Seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

void BoxAnswerer::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.clear();
    answers_.clear();
}

void BoxAnswerer::Loop() {
    std::set<HWND> answered;
    while (!stop_) {
        BoxSearch search;
        EnumWindows(CollectBoxes, reinterpret_cast<LPARAM>(&search));
        for (HWND box : search.found) {
            if (answered.count(box)) {
                // Still there: the answer did not fit its buttons; try the others.
                for (int id : {IDOK, IDNO, IDCANCEL})
                    if (GetDlgItem(box, id)) tvtest::AnswerDialog(box, id);
                continue;
            }
            SeenBox seen;
            seen.caption = tvtest::TextOf(box);
            seen.text = tvtest::MessageBoxText(box);
            seen.ownerInProcess = OwnedHere(box);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen.answer = fallback_;
                if (!answers_.empty()) {
                    seen.answer = answers_.front();
                    answers_.pop_front();
                }
                seen_.push_back(seen);
            }
            answered.insert(box);
            tvtest::AnswerDialog(box, seen.answer);
        }
        // Forget boxes that are gone (a handle may be reused later).
        for (auto it = answered.begin(); it != answered.end();)
            it = IsWindow(*it) ? std::next(it) : answered.erase(it);
        Sleep(search.found.empty() ? 30 : 300);
    }
}

// --- WorkDir -----------------------------------------------------------------------

WorkDir::WorkDir(const std::string& root) {
    path_ = root + tvtest::UniqueName("tvrun_");
    tvtest::MakeDir(path_);
}

WorkDir::~WorkDir() { tvtest::RemoveTree(path_); }

// --- RunnerTest ----------------------------------------------------------------------

std::string RunnerTest::ownStore;
std::string RunnerTest::pubStore;
std::string RunnerTest::recipientStore;
const char* const RunnerTest::kOwnName = "Alice Runner";
const char* const RunnerTest::kRecipientName = "Bob Mail bob@example.org";
std::unique_ptr<tvtest::CertFixture> RunnerTest::certs_;
HMODULE RunnerTest::status_ = nullptr;

void RunnerTest::SetUpTestSuite() {
    certs_.reset(new tvtest::CertFixture());
    ownStore = certs_->NewStore("own");
    pubStore = certs_->NewStore("pub");
    recipientStore = certs_->NewStore("bob");
    ASSERT_TRUE(certs_->MakePerson(kOwnName, ownStore));
    ASSERT_TRUE(certs_->MakePerson(kRecipientName, recipientStore));
    ASSERT_TRUE(certs_->CopyPublic(kOwnName, ownStore, pubStore));
    ASSERT_TRUE(certs_->CopyPublic(kRecipientName, recipientStore, pubStore));
    // Loaded here too, so that its script and log outlive each job's binding.
    status_ = LoadLibraryA((ExeDir() + "\\scriptedstatus.dll").c_str());
    ASSERT_NE(status_, nullptr);
}

void RunnerTest::TearDownTestSuite() {
    if (status_) FreeLibrary(status_);
    status_ = nullptr;
    certs_.reset();
}

void RunnerTest::SetUp() {
    settings.reset(new tvtest::RegistryValues());
    ownCertificates.reset(
        new tvtest::RegistryValues(HKEY_CURRENT_USER, "software\\Quorvex\\Own Certificates"));
    Set("statusdll", ExeDir() + "\\scriptedstatus.dll");
    Set("pubstore", pubStore);
    Set("ownstore", ownStore);
    for (const char* name : {"addpubliczert", "loeschequelldatei", "openfilesonly", "zipfile",
                             "unzipfile", "smeviaemail", "asksmeemail", "delsecure"})
        Set(name, "No");
    Set("openfilessave", "Yes");
    SetOwnCertificate(kOwnName);
    Script("");
    work.reset(new WorkDir());
    boxes.Clear();
    ClearLastError();
}

void RunnerTest::TearDown() {
    work.reset();
    ownCertificates.reset();
    settings.reset();
}

void RunnerTest::Set(const std::string& name, const std::string& value) {
    ASSERT_TRUE(settings->SetString(name, value)) << name;
}

void RunnerTest::Unset(const std::string& name) { settings->Remove(name); }

void RunnerTest::SetOwnCertificate(const std::string& subject) {
    char user[64] = {0};
    if (!GetCurrentUserName(user) || !user[0]) strcpy(user, "DefUsr");
    ASSERT_TRUE(ownCertificates->SetString(user, subject));
}

void RunnerTest::Script(const std::string& script) {
    auto reset = reinterpret_cast<ResetFn>(GetProcAddress(status_, "ScriptedStatusReset"));
    ASSERT_NE(reset, nullptr);
    std::string full = "window=1;" + script;
    reset(full.c_str());
}

std::string RunnerTest::StatusLog() {
    auto log = reinterpret_cast<LogFn>(GetProcAddress(status_, "ScriptedStatusLog"));
    return log ? log() : "";
}

std::vector<std::string> RunnerTest::LogLines(const std::string& call) {
    std::vector<std::string> lines;
    std::string log = StatusLog();
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        if (line.compare(0, call.size() + 1, call + "|") == 0) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool RunnerTest::RunJob(uint32_t op, const std::vector<std::string>& paths,
                        const std::string& recipient) {
    std::vector<TQXSelFil> list(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        memset(list[i], 0, sizeof list[i]);
        strncpy(list[i], paths[i].c_str(), sizeof list[i] - 1);
    }
    TQXOleAPI runner;
    return runner.Run(op, static_cast<uint32_t>(list.size()), list.data(), recipient.c_str());
}

bool RunnerTest::Protect(uint32_t op, const std::string& path, const std::string& recipient) {
    TQXCryptIF front;
    switch (op) {
    case 2: return front.Sign(1, path.c_str());
    case 4: return front.Encrypt(1, path.c_str());
    case 7: return front.PackEnvelope(1, path.c_str(), recipient.c_str());
    default: return false;
    }
}

std::string RunnerTest::Unpacked(const std::string& envelope) {
    std::string copy = *work / "unpacked.bin.sme";
    std::string plain = *work / "unpacked.bin";
    if (!CopyFileA(envelope.c_str(), copy.c_str(), FALSE)) return "";
    Set("ownstore", recipientStore);
    SetOwnCertificate(kRecipientName);
    bool ok = false;
    {
        TQXCryptIF front;
        ok = front.UnpackEnvelope(1, copy.c_str());
    }
    Set("ownstore", ownStore);
    SetOwnCertificate(kOwnName);
    std::string content = ok ? tvtest::ReadFileBytes(plain) : "";
    tvtest::RemoveTree(copy);
    tvtest::RemoveTree(plain);
    return content;
}

std::string RunnerTest::TempFolder() {
    char temp[MAX_PATH] = {0};
    GetTempPathA(sizeof temp, temp);
    std::string folder = temp;
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
}

}  // namespace tvrun
