// What the settings program's tests share: a clean settings key before and
// after each test, reading the key back, and the login name.
#pragma once

#include <windows.h>

#include <map>
#include <string>

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

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override { RemoveQuorvexKey(); }
    void TearDown() override { RemoveQuorvexKey(); }
    // A value of the settings key (or of another key below HKCU).
    static void Set(const std::string& name, const std::string& value,
                    const std::string& key = kSettingsKey);
};

}  // namespace tvsetuptest
