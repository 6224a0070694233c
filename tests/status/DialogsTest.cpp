// The dialog classes compiled into a program (as the settings program uses
// the OK/help dialog), driven from a second thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

#include "DYesNoAll.h"
#include "QXDialogIds.h"
#include "QXDlgOkHilfe.h"
#include "QXForms.h"
#include "OwnWindows.h"
#include "WindowDriver.h"

using namespace tvtest;

namespace {

// The messages of this thread's own windows.
int LeftOf(HWND dialog, int id) {
    RECT rect;
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    return rect.left;
}

}  // namespace

TEST(OkHelpDialog, QuestionModeButtonsAnswersAndCloseBox) {
    TQXDlgOkHilfe dialog(nullptr);
    ASSERT_TRUE(dialog.Created());
    enum Act { Yes, No, Cancel, CloseBox, Escape };
    struct Row {
        Act act;
        uint8_t answer;
    } rows[] = {{Yes, AnswerYes}, {No, AnswerNo}, {Cancel, AnswerCancel},
                // After a Yes, the close box still answers Cancel.
                {Yes, AnswerYes}, {CloseBox, AnswerCancel}, {No, AnswerNo}, {Escape, AnswerCancel}};
    for (const Row& row : rows) {
        std::string order, text, caption;
        uint8_t answer = WhileDriving(
            [&] {
                HWND w = WaitForCaption("Tarvisto 2.11 - Question");
                caption = TextOf(w);
                text = ChildText(w, IDC_OKHELP_TEXT);
                // Left to right.
                int ok = LeftOf(w, IDC_OKHELP_OK), cancel = LeftOf(w, IDC_OKHELP_CANCEL),
                    help = LeftOf(w, IDC_OKHELP_HELP);
                if (ok < cancel && cancel < help)
                    order = ChildText(w, IDC_OKHELP_OK) + "|" + ChildText(w, IDC_OKHELP_CANCEL) +
                            "|" + ChildText(w, IDC_OKHELP_HELP);
                switch (row.act) {
                case Yes: ClickChild(w, IDC_OKHELP_OK); break;
                case No: ClickChild(w, IDC_OKHELP_HELP); break;
                case Cancel: ClickChild(w, IDC_OKHELP_CANCEL); break;
                case CloseBox: CloseByBox(w); break;
                case Escape: PressEscape(w); break;
                }
            },
            [&] { return dialog.AskYesNoCancel("Tarvisto 2.11 - Question", "Remove it?"); });
        EXPECT_EQ(answer, row.answer) << row.act;
        EXPECT_EQ(order, "Yes|Cancel|No");
        EXPECT_EQ(text, "Remove it?");
    }
    // Without a caption nothing is shown and the last answer comes back.
    EXPECT_EQ(dialog.AskYesNoCancel(nullptr, "x"), AnswerCancel);
}

TEST(OkHelpDialog, InformationModeCollectsLinesAndHelpStaysOpen) {
    TQXDlgOkHilfe dialog(nullptr);
    EXPECT_FALSE(dialog.ShowText(nullptr, "text"));
    EXPECT_FALSE(dialog.AppendText(nullptr));
    EXPECT_TRUE(dialog.AppendText("first"));
    EXPECT_TRUE(dialog.AppendText("second\r\nthird"));
    EXPECT_TRUE(dialog.HasText());

    std::string shown, order, openAfterHelp;
    bool result = WhileDriving(
        [&] {
            HWND w = WaitForCaption("Info");
            shown = ChildText(w, IDC_OKHELP_TEXT);
            order = ChildText(w, IDC_OKHELP_OK) + "|" + ChildText(w, IDC_OKHELP_CANCEL) + "|" +
                    ChildText(w, IDC_OKHELP_HELP);
            EXPECT_NE(GetWindowLongPtrA(GetDlgItem(w, IDC_OKHELP_TEXT), GWL_STYLE) & WS_VSCROLL, 0);
            ClickChild(w, IDC_OKHELP_HELP);
            // Without a help page the platform may say so in a box of its own.
            AnswerBoxOver(w);
            openAfterHelp = IsWindowVisible(w) ? "open" : "closed";
            ClickChild(w, IDC_OKHELP_OK);
        },
        [&] { return dialog.ShowText("Info", nullptr); });
    EXPECT_TRUE(result);
    EXPECT_EQ(dialog.Result(), AnswerOK);
    EXPECT_EQ(openAfterHelp, "open");
    EXPECT_EQ(shown, "first\r\nsecond\r\nthird\r\n");
    EXPECT_EQ(order, "OK|Cancel|Help");

    // The close box of an information box goes on (true), even after an
    // earlier Cancel of the same box.
    result = WhileDriving([&] { ClickChild(WaitForCaption("Info"), IDC_OKHELP_CANCEL); },
                          [&] { return dialog.ShowText("Info", "replaced"); });
    EXPECT_FALSE(result);
    result = WhileDriving([&] { CloseByBox(WaitForCaption("Info")); },
                          [&] { return dialog.ShowText("Info", nullptr); });
    EXPECT_TRUE(result);
}

TEST(YesNoAllDialog, WithoutTextAnswersCancelUnseen) {
    TDYesNoAll dialog(nullptr, "Tarvisto 2.11 - Warning!");
    ASSERT_TRUE(dialog.Created());
    EXPECT_EQ(dialog.Ask(nullptr), AnswerCancel);
    EXPECT_FALSE(IsWindowVisible(dialog.Handle()));
    RECT client;
    GetClientRect(dialog.Handle(), &client);
    EXPECT_EQ(client.right, 542);
    EXPECT_EQ(client.bottom, 120);
    // The default button is first in the tab order.
    EXPECT_EQ(GetNextDlgTabItem(dialog.Handle(), nullptr, FALSE),
              GetDlgItem(dialog.Handle(), IDC_YESNOALL_YESALL));
}

TEST(YesNoAllDialog, TabMovesBetweenButtonsAndEnterPressesTheFocusedOne) {
    TDYesNoAll dialog(nullptr, "Tarvisto 2.11 - Warning!");
    uint8_t answer = WhileDriving(
        [&] {
            HWND w = WaitForClassPrefix("TDYesNoAll");
            // The default button has the focus; Tab moves it to the next
            // tab stop, Yes, where Enter presses it.
            PressKeyOn(GetDlgItem(w, IDC_YESNOALL_YESALL), VK_TAB);
            PressKeyOn(GetDlgItem(w, IDC_YESNOALL_YES), VK_RETURN);
        },
        [&] { return dialog.Ask("Question?"); });
    EXPECT_EQ(answer, AnswerYes);
}

// Focus: each showing starts at the default button, even after the focus
// was moved in an earlier one; an activation keeps the control that had it.
TEST(ModalForm, EachShowingStartsAtTheDefaultButton) {
    TDYesNoAll dialog(nullptr, "Tarvisto 2.11 - Warning!");
    for (int showing = 0; showing < 2; ++showing) {
        SCOPED_TRACE(showing);
        bool focusedDefault = false;
        uint8_t answer = WhileDriving(
            [&] {
                HWND w = WaitForClassPrefix("TDYesNoAll");
                focusedDefault = WaitForFocus(GetDlgItem(w, IDC_YESNOALL_YESALL));
                // Moved on to No all (Yes all, Yes, No, No all), answered there.
                PressKeyOn(GetDlgItem(w, IDC_YESNOALL_YESALL), VK_TAB);
                PressKeyOn(GetDlgItem(w, IDC_YESNOALL_YES), VK_TAB);
                PressKeyOn(GetDlgItem(w, IDC_YESNOALL_NO), VK_TAB);
                PressKeyOn(GetDlgItem(w, IDC_YESNOALL_NOALL), VK_RETURN);
            },
            [&] { return dialog.Ask("Question?"); });
        EXPECT_TRUE(focusedDefault);
        EXPECT_EQ(answer, AnswerNoAll);
    }
}

TEST(ModalForm, AnActivationKeepsTheControlThatHadTheFocus) {
    TDYesNoAll dialog(nullptr, "Tarvisto 2.11 - Warning!");
    bool keptOnYes = false;
    std::string focusAfter;
    uint8_t answer = WhileDriving(
        [&] {
            HWND w = WaitForClassPrefix("TDYesNoAll");
            PressKeyOn(GetDlgItem(w, IDC_YESNOALL_YESALL), VK_TAB);
            ASSERT_TRUE(WaitForFocus(GetDlgItem(w, IDC_YESNOALL_YES)));
            // Another window of the process takes the activation and gives it back.
            HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 80,
                                         40, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
            SetForegroundWindow(other);
            WaitUntil([&] {
                PumpOwn();
                return GetForegroundWindow() == other;
            });
            SetForegroundWindow(w);
            WaitUntil([&] {
                PumpOwn();
                return GetForegroundWindow() == w;
            });
            DWORD_PTR ignored = 0;  // the dialog's thread has handled its activation
            SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, kWaitMs, &ignored);
            keptOnYes = HasFocus(GetDlgItem(w, IDC_YESNOALL_YES));
            DestroyWindow(other);
            PressKeyOn(GetDlgItem(w, IDC_YESNOALL_YES), VK_RETURN);
        },
        [&] { return dialog.Ask("Question?"); });
    EXPECT_TRUE(keptOnYes);
    EXPECT_EQ(answer, AnswerYes);
}

TEST(HelpAddress, BuiltBesideTheModuleAndRefusedWhenTooLong) {
    char address[256];
    ASSERT_TRUE(BuildHelpAddress("C:\\Program Files\\Tarvisto", "Hilfe\\tvparameter.htm",
                                 "#subOptionen", address));
    EXPECT_STREQ(address, "file:///C:\\Program Files\\Tarvisto\\Hilfe\\tvparameter.htm#subOptionen");
    std::string deep = "C:\\" + std::string(240, 'd');
    strcpy(address, "unchanged");
    EXPECT_FALSE(BuildHelpAddress(deep.c_str(), "Hilfe\\onlinehilfe.htm", "", address));

    // The folder is that of the module holding the code (here: this program).
    char folder[256];
    ASSERT_TRUE(ModuleFolder(folder));
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof(exe));
    *strrchr(exe, '\\') = '\0';
    EXPECT_STREQ(folder, exe);
}

TEST(WindowLayer, HiddenMainWindowRunsOneShotTimers) {
    QXMainWindow main;
    ASSERT_TRUE(main.Create("TQXTestMain", "Test"));
    EXPECT_FALSE(IsWindowVisible(main.Handle()));
    int fired = 0;
    ASSERT_TRUE(main.StartOneShotTimer(1, 10, [&] {
        ++fired;
        main.StartOneShotTimer(2, 10, [&] {
            ++fired;
            main.Close();
        });
    }));
    EXPECT_EQ(main.Run(), 0);
    EXPECT_EQ(fired, 2);
}
