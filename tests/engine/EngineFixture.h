// What the engine tests share: certificates and stores made for the test, the
// settings of a job, a work folder outside the temporary folder, and the
// scripted stand-in of the dialogs library (tests-bin\scriptedstatus.dll) with
// its call log.
#pragma once

#include <gtest/gtest.h>
#include "TestErrors.h"
#include <windows.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CertFixture.h"
#include "QXCryptDir.h"
#include "QXTools.h"
#include "RegistryFixture.h"
#include "TestFiles.h"

namespace enginetest {

// The folder of the test program (tests-bin).
inline std::string ExeDir() {
    char path[MAX_PATH] = {0};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.find_last_of('\\'));
}

// A folder beside the test program: outside the temporary folder, so that
// the engine deletes sources only when the settings say so.
class WorkDir {
public:
    WorkDir() : path_(ExeDir() + "\\" + tvtest::UniqueName("ew")) { tvtest::MakeDir(path_); }
    ~WorkDir() { tvtest::RemoveTree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) out.push_back(line);
    return out;
}

inline bool StartsWith(const std::string& s, const std::string& p) { return s.compare(0, p.size(), p) == 0; }
inline bool Has(const std::string& s, const std::string& p) { return s.find(p) != std::string::npos; }

// The value of "key=" in a '|'-separated log line; empty when absent.
inline std::string Field(const std::string& line, const std::string& key) {
    std::string tag = "|" + key + "=";
    size_t at = line.find(tag);
    if (at == std::string::npos) return "";
    at += tag.size();
    size_t end = line.find('|', at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The scripted dialogs library, held loaded by the test so that its script and
// log live across the engine's loading and unloading.
class ScriptedStatus {
public:
    explicit ScriptedStatus(const std::string& name = "scriptedstatus.dll")
        : path_(ExeDir() + "\\" + name) {
        module_ = LoadLibraryA(path_.c_str());
        reset_ = reinterpret_cast<void(WINAPI*)(const char*)>(GetProcAddress(module_, "ScriptedStatusReset"));
        log_ = reinterpret_cast<const char*(WINAPI*)()>(GetProcAddress(module_, "ScriptedStatusLog"));
        window_ = reinterpret_cast<HWND(WINAPI*)()>(GetProcAddress(module_, "ScriptedStatusWindow"));
    }
    ~ScriptedStatus() {
        if (module_) FreeLibrary(module_);
    }
    void Release() {
        if (module_) FreeLibrary(module_);
        module_ = nullptr;
    }
    bool ok() const { return module_ && reset_ && log_ && window_; }
    const std::string& path() const { return path_; }
    void Script(const std::string& script) { reset_(script.c_str()); }
    std::string Log() const { return log_(); }
    std::vector<std::string> Calls(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : Lines(Log()))
            if (StartsWith(line, prefix)) out.push_back(line);
        return out;
    }
    std::vector<std::string> Updates(int kind) const {
        return Calls("Update|kind=" + std::to_string(kind) + "|");
    }
    HWND Window() const { return window_(); }

private:
    std::string path_;
    HMODULE module_ = nullptr;
    void(WINAPI* reset_)(const char*) = nullptr;
    const char*(WINAPI* log_)() = nullptr;
    HWND(WINAPI* window_)() = nullptr;
};

inline std::string CurrentUser() {
    char user[64] = {0};
    DWORD n = sizeof user;
    if (WNetGetUserA(nullptr, user, &n) != NO_ERROR || !user[0]) return "DefUsr";
    return user;
}

// Certificates shared by every test of a program: the own certificate with
// its key in the own store, its public copy in the public store.
struct Identities {
    tvtest::CertFixture certs;
    std::string own, pub;
    bool ok = false;
    Identities() {
        own = certs.NewStore("own");
        pub = certs.NewStore("pub");
        ok = certs.MakePerson("Olivia Own", own) && certs.CopyPublic("Olivia Own", own, pub);
    }
};

inline Identities& Ids() {
    static Identities* ids = new Identities;  // removed by the environment below
    return *ids;
}

// Removes the shared certificates at the end of the program.
class IdentitiesCleanup : public ::testing::Environment {
public:
    void TearDown() override { Ids().certs.Cleanup(); }
};
inline ::testing::Environment* const kIdentitiesCleanup =
    ::testing::AddGlobalTestEnvironment(new IdentitiesCleanup);

// One test: the job's settings (fresh per test, removed afterwards), the
// stand-in with an empty script, and a work folder.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Ids().ok);
        ASSERT_TRUE(status.ok());
        status.Script("");
        settings = std::make_unique<tvtest::RegistryValues>();
        ownCerts = std::make_unique<tvtest::RegistryValues>(HKEY_CURRENT_USER,
                                                            "software\\Quorvex\\Own Certificates");
        Set("statusdll", status.path());
        Set("ownstore", Ids().own);
        Set("pubstore", Ids().pub);
        Set("loeschequelldatei", "No");
        Set("delsecure", "No");
        Set("addpubliczert", "Yes");
        Set("openfilesonly", "No");
        Set("openfilessave", "Yes");
        Set("unzipfile", "No");
        ownCerts->SetString(CurrentUser(), "Olivia Own");
        ownCerts->SetString("DefUsr", "Olivia Own");
        ClearLastError();
    }
    void TearDown() override {
        settings.reset();
        ownCerts.reset();
    }
    void Set(const std::string& name, const std::string& value) {
        ASSERT_TRUE(settings->SetString(name, value)) << name;
    }
    // A fresh job; the scripted library is bound by its constructor. Its
    // window (on this thread) is found at once.
    std::unique_ptr<TQXCryptDir> NewJob(const std::string& script = "window=1") {
        status.Script(script.find("window=") == std::string::npos ? "window=1;" + script : script);
        return std::make_unique<TQXCryptDir>();
    }
    static std::string Held() { return tvtest::TakeError(); }

    ScriptedStatus status;
    std::unique_ptr<tvtest::RegistryValues> settings;
    std::unique_ptr<tvtest::RegistryValues> ownCerts;
    WorkDir work;
};

}  // namespace enginetest
