// What the settings program's tests share: a clean settings key before and
// after each test, reading the key back, and the login name.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tvsetuptest {

constexpr char kSettingsKey[] = "software\\Quorvex\\Tarvisto";
constexpr char kOwnKey[] = "software\\Quorvex\\Own Certificates";
constexpr char kShellHandlerKey[] = "*\\shellex\\ContextMenuHandlers\\Tarvisto";

// Every value of a key as name -> text (REG_SZ without its terminator).
std::map<std::string, std::string> ReadValues(HKEY root, const std::string& key);
// Removes "software\Quorvex" of the current user with all it holds.
void RemoveQuorvexKey();
// The network user name as the program reads it.
std::string LoginName();

// One row of the shell registration under HKEY_CLASSES_ROOT (name null: the
// key's default value).
struct ShellRow {
    std::string key;
    const char* name;
    std::string data;
};
// The twelve rows the registration writes for programs in folder.
std::vector<ShellRow> ShellRows(const std::string& folder);
// Every key the registration makes, removed with all it holds.
void RemoveShellRows();
// A value below HKEY_CLASSES_ROOT; "(missing)" when it is not there.
std::string ReadClassValue(const std::string& key, const char* name);
bool ClassKeyExists(const std::string& key);
// Writes a REG_SZ value below HKEY_CLASSES_ROOT (a failed test when the key
// cannot be made); options as RegCreateKeyEx takes them.
void SetClassValue(const std::string& key, const char* name, const std::string& data,
                   DWORD options = 0);

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveQuorvexKey(); }
    void TearDown() override { RemoveQuorvexKey(); }
    // A value of the settings key (or of another key below HKCU).
    static void Set(const std::string& name, const std::string& value,
                    const std::string& key = kSettingsKey);
};

}  // namespace tvsetuptest
