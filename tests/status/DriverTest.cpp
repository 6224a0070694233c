// The window driver fails a test rather than guessing: a key waits for the
// focus on its control, the folder browser for its selection, and a driven
// call that nobody ends is ended by the watchdog.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <string>

#include "DYesNoAll.h"
#include "QXDialogIds.h"
#include "WindowDriver.h"

using namespace tvtest;

namespace {

const char* const kCaption = "Tarvisto 2.11 - Warning!";

TEST(Driver, TheWatchdogEndsACallNobodyAnswersAndFailsTheTest) {
    TDYesNoAll dialog(nullptr, kCaption);
    uint8_t answer = AnswerYes;
    EXPECT_NONFATAL_FAILURE(
        answer = WhileDriving([] {}, [&] { return dialog.Ask("Nobody answers"); }, 1500),
        "the watchdog closed");
    // Closed, as by its close box.
    EXPECT_EQ(answer, AnswerCancel);
    EXPECT_FALSE(IsWindowVisible(dialog.Handle()));
}

TEST(Driver, AKeyWaitsForTheFocusOnItsControlAndIsNeverSentElsewhere) {
    TDYesNoAll dialog(nullptr, kCaption);
    uint8_t answer = AnswerYes;
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        answer = WhileDriving(
            [] {
                HWND w = WaitForClassPrefix("TDYesNoAll");
                // No has no focus (Yes all has): Enter is not pressed at all.
                PressKeyOn(GetDlgItem(w, IDC_YESNOALL_NO), VK_RETURN, 1000);
                ClickChild(w, IDC_YESNOALL_CANCEL);
            },
            [&] { return dialog.Ask("Which?"); }),
        "the focus never came to");
    EXPECT_EQ(answer, AnswerCancel);
}

TEST(Driver, TheFolderBrowserIsCancelledWhenTheWantedFolderIsNeverSelected) {
    CoInitialize(nullptr);
    bool answered = true;
    LPITEMIDLIST chosen = nullptr;
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
        chosen = WhileDriving(
            [&] {
                answered = AnswerFolderBrowser(WaitForFolderBrowser(), "C:\\no\\such\\folder",
                                               2000);
            },
            [] {
                BROWSEINFOA info = {};
                info.lpszTitle = "Pick";
                info.ulFlags = BIF_RETURNONLYFSDIRS;
                return SHBrowseForFolderA(&info);
            }),
        "never selected C:\\no\\such\\folder");
    EXPECT_FALSE(answered);
    EXPECT_EQ(chosen, nullptr) << "OK was pressed with another folder";
    if (chosen) CoTaskMemFree(chosen);
    CoUninitialize();
}

}  // namespace
