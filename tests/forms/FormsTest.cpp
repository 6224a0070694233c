// The window layer's richer parts: timers, pages, check boxes and radio
// buttons with their click operation, the tree, popup entries, accelerators in
// the program's loop and the application's exception display.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "QXForms.h"
#include "QXTools.h"
#include "TestFiles.h"
#include "OwnWindows.h"
#include "WindowDriver.h"

using namespace tvtest;

namespace {

enum {
    kPages = 10, kOnFirst, kOnSecond, kHiddenOnSecond,
    kCheck = 20, kRadioA, kRadioB, kRadioOther,
    kTree = 30, kPicture = 40, kLink,
    kMenuOn = 50, kMenuOff, kMenuHidden,
};

class Recorder : public QXForm {
public:
    std::vector<std::string> events;
    void Add(const std::string& event) { events.push_back(event); }

protected:
    void OnCommand(int id) override { Add("command " + std::to_string(id)); }
    void OnPageChanged(int control, int page) override { Add("page " + std::to_string(page)); }
    void OnTreeChanging(int tree, HTREEITEM from, HTREEITEM to) override {
        Add("changing " + TreeText(Control(tree), from) + ">" + TreeText(Control(tree), to));
    }
    void OnTreeChanged(int tree, HTREEITEM node) override {
        Add("changed " + TreeText(Control(tree), node));
    }
};

}  // namespace

TEST(FormTimers, OneShotTimersFireOnceAndCanBeReArmedOrStopped) {
    QXForm form;
    ASSERT_TRUE(form.Create("TvFormsTimers", false, "timers", 100, 50, true, nullptr));
    int first = 0, second = 0;
    bool stoppedRan = false;
    ASSERT_TRUE(form.StartOneShotTimer(1, 10, [&] {
        if (++first < 3) form.StartOneShotTimer(1, 10, [&] { ++first; });
    }));
    ASSERT_TRUE(form.StartOneShotTimer(2, 10, [&] { stoppedRan = true; }));
    form.StopTimer(2);
    EXPECT_FALSE(form.TimerArmed(2));
    ASSERT_TRUE(form.StartOneShotTimer(3, 60, [&] { ++second; }));
    EXPECT_TRUE(WaitUntil([&] {
        PumpOwn();
        return first == 2 && second == 1;
    }));
    EXPECT_FALSE(form.TimerArmed(1));
    EXPECT_FALSE(form.TimerArmed(3));
    EXPECT_FALSE(stoppedRan);
}

TEST(FormControls, CheckBoxAndRadioClickOperationsRunOnEveryChangeOfState) {
    Recorder form;
    ASSERT_TRUE(form.Create("TvFormsSwitches", false, "switches", 300, 200, true, nullptr));
    form.AddCheckBox(kCheck, "check", 10, 10, 200, 20);
    form.AddRadioButton(kRadioA, "a", 10, 40, 200, 20, 1);
    form.AddRadioButton(kRadioB, "b", 10, 70, 200, 20, 1);
    form.AddRadioButton(kRadioOther, "other group", 10, 100, 200, 20, 2);
    struct Row {
        int id;
        bool on;
        const char* event;  // the click operation, or "" when none runs
        bool a, b, other;   // the states afterwards
    } rows[] = {
        {kCheck, true, "command 20", false, false, false},
        {kCheck, true, "", false, false, false},  // no change: no operation
        {kRadioA, true, "command 21", true, false, false},
        {kRadioOther, true, "command 23", true, false, true},  // another group stays
        {kRadioB, true, "command 22", false, true, true},      // its sibling goes off
        {kRadioB, false, "", false, false, true},              // off leaves both off
        {kCheck, false, "command 20", false, false, true},
    };
    for (const Row& row : rows) {
        form.events.clear();
        form.SetChecked(row.id, row.on);
        std::string seen = form.events.empty() ? "" : form.events.back();
        EXPECT_EQ(seen, row.event) << row.id << " " << row.on;
        EXPECT_EQ(form.events.size(), row.event[0] ? 1u : 0u);
        EXPECT_EQ(form.Checked(kRadioA), row.a);
        EXPECT_EQ(form.Checked(kRadioB), row.b);
        EXPECT_EQ(form.Checked(kRadioOther), row.other);
    }
    // A user's click: the check box toggles, a radio button turns on once.
    form.ShowModeless();
    form.events.clear();
    SendMessageA(form.Control(kCheck), BM_CLICK, 0, 0);
    SendMessageA(form.Control(kRadioA), BM_CLICK, 0, 0);
    SendMessageA(form.Control(kRadioA), BM_CLICK, 0, 0);
    EXPECT_EQ(form.events, (std::vector<std::string>{"command 20", "command 21"}));
    EXPECT_TRUE(form.Checked(kCheck));
    EXPECT_TRUE(form.Checked(kRadioA));
    EXPECT_FALSE(form.Checked(kRadioB));
}

TEST(FormControls, PagesShowTheirControlsAndKeepWhatTheProgramHid) {
    Recorder form;
    ASSERT_TRUE(form.Create("TvFormsPages", false, "pages", 300, 200, true, nullptr));
    HWND tabs = form.AddPageControl(kPages, 0, 0, 300, 200, nullptr);
    ASSERT_NE(tabs, nullptr);
    EXPECT_EQ(form.AddPage(kPages, "&First", 0), 0);
    EXPECT_EQ(form.AddPage(kPages, "Second", 0), 1);
    form.SetPageText(kPages, 1, "&Second");
    EXPECT_EQ(QXForm::PageText(tabs, 1), "&Second");
    EXPECT_NE(GetWindowLongPtrA(tabs, GWL_STYLE) & (TCS_BUTTONS | TCS_FLATBUTTONS | TCS_HOTTRACK),
              0);
    form.AddButton(kOnFirst, "one", 10, 40, 80, 20);
    form.AddButton(kOnSecond, "two", 10, 70, 80, 20);
    form.AddButton(kHiddenOnSecond, "three", 10, 100, 80, 20);
    form.PutOnPage(kOnFirst, kPages, 0);
    form.PutOnPage(kOnSecond, kPages, 1);
    form.PutOnPage(kHiddenOnSecond, kPages, 1);
    form.ShowControl(kHiddenOnSecond, false);
    auto shown = [&](int id) { return IsWindowVisible(form.Control(id)) != FALSE; };
    form.ShowModeless();
    EXPECT_TRUE(shown(kOnFirst));
    EXPECT_FALSE(shown(kOnSecond));
    EXPECT_TRUE(form.ControlVisible(kOnSecond));  // shown by the program, on a hidden page

    // A click on the second tab.
    RECT item;
    SendMessageA(tabs, TCM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tabs, WM_LBUTTONUP, 0, at);
    EXPECT_EQ(form.CurrentPage(kPages), 1);
    EXPECT_EQ(form.events, std::vector<std::string>{"page 1"});
    EXPECT_FALSE(shown(kOnFirst));
    EXPECT_TRUE(shown(kOnSecond));
    EXPECT_FALSE(shown(kHiddenOnSecond));
    form.ShowControl(kHiddenOnSecond, true);
    EXPECT_TRUE(shown(kHiddenOnSecond));
    EXPECT_TRUE(form.SelectPage(kPages, 0));
    EXPECT_TRUE(shown(kOnFirst));
    EXPECT_FALSE(shown(kHiddenOnSecond));
    EXPECT_FALSE(form.SelectPage(kPages, 2));
}

TEST(FormControls, TreeWalksInIndexOrderAndReportsSelectionChanges) {
    Recorder form;
    ASSERT_TRUE(form.Create("TvFormsTree", false, "tree", 300, 200, true, nullptr));
    qx::ImageList images(ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 4, 0));
    HWND tree = form.AddTreeView(kTree, 0, 0, 300, 200, images.get(), 19);
    ASSERT_NE(tree, nullptr);
    HTREEITEM root = QXForm::TreeAdd(tree, nullptr, "root", 9, 1);
    HTREEITEM a = QXForm::TreeAdd(tree, root, "a", 8, 2);
    QXForm::TreeAdd(tree, a, "a1", 6, 3);
    QXForm::TreeAdd(tree, root, "b", 7, 4);
    std::string walk;
    for (HTREEITEM node = QXForm::TreeNext(tree, nullptr); node; node = QXForm::TreeNext(tree, node))
        walk += QXForm::TreeText(tree, node) + ":" + std::to_string(QXForm::TreeImage(tree, node)) +
                ":" + std::to_string(QXForm::TreeValue(tree, node)) + " ";
    EXPECT_EQ(walk, "root:9:1 a:8:2 a1:6:3 b:7:4 ");
    EXPECT_EQ(QXForm::TreeCount(tree), 4);
    EXPECT_EQ(QXForm::TreeText(tree, QXForm::TreeParent(tree, a)), "root");

    EXPECT_TRUE(QXForm::TreeSelect(tree, root));
    form.events.clear();
    EXPECT_TRUE(QXForm::TreeSelect(tree, a));
    EXPECT_EQ(form.events, (std::vector<std::string>{"changing root>a", "changed a"}));
    EXPECT_EQ(QXForm::TreeSelection(tree), a);
    EXPECT_TRUE(QXForm::TreeDelete(tree, a));
    EXPECT_EQ(QXForm::TreeCount(tree), 2);
    QXForm::TreeClear(tree);
    EXPECT_EQ(QXForm::TreeCount(tree), 0);
}

TEST(FormControls, HintsLinksPicturesAndTheReadOnlyEdit) {
    Recorder form;
    ASSERT_TRUE(form.Create("TvFormsLooks", false, "looks", 300, 200, true, nullptr));
    int drawn = 0;
    form.AddPicture(kPicture, 0, 0, 100, 50, [&](HDC, const RECT&) { ++drawn; }, true);
    form.AddLink(kLink, "www.example.org", 0, 60, 200, 20, RGB(0, 0, 128), 13, "Arial", false);
    HWND edit = form.AddEdit(kTree, "text", 0, 90, 200, 20, true);
    EXPECT_NE(GetWindowLongPtrA(edit, GWL_STYLE) & ES_READONLY, 0);
    EXPECT_EQ(GetWindowLongPtrA(edit, GWL_STYLE) & ES_MULTILINE, 0);
    form.SetHint(kPicture, "About");
    EXPECT_FALSE(form.HintShown(kPicture));
    form.ShowHint(kPicture, true);
    EXPECT_TRUE(form.HintShown(kPicture));
    EXPECT_EQ(form.Hint(kPicture), "About");
    EXPECT_TRUE(form.HasHandCursor(kPicture));
    EXPECT_TRUE(form.HasHandCursor(kLink));
    EXPECT_FALSE(form.HasHandCursor(kTree));
    // Over a picture or a link the cursor is the hand.
    for (int id : {kPicture, kLink}) {
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
        EXPECT_TRUE(SendMessageA(form.Handle(), WM_SETCURSOR,
                                 reinterpret_cast<WPARAM>(form.Control(id)),
                                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
        EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_HAND)) << id;
    }
    // The link is underlined.
    LOGFONTA font = {};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(form.Control(kLink), WM_GETFONT, 0, 0)),
               sizeof(font), &font);
    EXPECT_TRUE(font.lfUnderline);

    form.ShowModeless();
    EXPECT_TRUE(WaitUntil([&] {
        PumpOwn();
        return drawn > 0;
    }));
    // Clicks on the picture and the link reach the form as commands.
    for (int id : {kPicture, kLink}) {
        SendMessageA(form.Control(id), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        SendMessageA(form.Control(id), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    }
    PumpOwn();
    EXPECT_EQ(form.events, (std::vector<std::string>{"command 40", "command 41"}));
}

TEST(FormControls, ColouredControlsPaintWithTheirOwnColoursAndOtherWindowsDoNot) {
    Recorder form, other;
    ASSERT_TRUE(form.Create("TvFormsColours", false, "colours", 300, 200, true, nullptr));
    ASSERT_TRUE(other.Create("TvFormsColoursOther", false, "other", 300, 200, true, nullptr));
    const COLORREF blue = RGB(0, 0, 255), silver = RGB(192, 192, 192), cream = RGB(255, 255, 224);
    const COLORREF face = GetSysColor(COLOR_BTNFACE), unset = RGB(1, 2, 3);
    HWND label = form.AddLabel(1, "blue", 0, 0, 100, 20, blue);
    HWND panel = form.AddPanel(2, 0, 30, 100, 20, silver);
    HWND memo = form.AddMemo(3, 0, 60, 100, 40, cream, "Arial", 14);
    HWND link = form.AddLink(4, "link", 0, 110, 100, 20, blue, 13, "Arial", false);
    // A window of another form with the same id as the coloured label.
    HWND stranger = other.AddLabel(1, "plain", 0, 0, 100, 20);
    struct Row {
        const char* name;
        HWND control;
        COLORREF text, back;  // unset: left as they were
        COLORREF brush;       // the colour of the brush handed back; unset: none of ours
    } rows[] = {
        {"label", label, blue, face, face},
        {"panel", panel, GetSysColor(COLOR_BTNTEXT), silver, silver},
        {"memo", memo, GetSysColor(COLOR_WINDOWTEXT), cream, cream},
        {"link", link, blue, face, face},
        {"stranger", stranger, unset, unset, unset},
    };
    HDC dc = GetDC(form.Handle());
    for (const Row& row : rows) {
        SetTextColor(dc, unset);
        SetBkColor(dc, unset);
        auto brush = reinterpret_cast<HBRUSH>(
            SendMessageA(form.Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(row.control)));
        if (row.brush == unset) {
            EXPECT_NE(GetTextColor(dc), blue) << row.name;
            continue;
        }
        EXPECT_EQ(GetTextColor(dc), row.text) << row.name;
        EXPECT_EQ(GetBkColor(dc), row.back) << row.name;
        LOGBRUSH drawn = {};
        ASSERT_EQ(GetObjectA(brush, sizeof(drawn), &drawn), static_cast<int>(sizeof(drawn)))
            << row.name;
        EXPECT_EQ(drawn.lbColor, row.brush) << row.name;
    }
    ReleaseDC(form.Handle(), dc);
}

TEST(FormLoop, AcceleratorsAndMenuCommandsReachTheFormOnlyForActiveEntries) {
    Recorder form;
    ASSERT_TRUE(form.Create("TvFormsMenu", false, "menu", 300, 200, true, nullptr));
    HWND tree = form.AddTreeView(kTree, 0, 0, 300, 200, nullptr, 0);
    QXPopupMenu menu;
    menu.Add(kMenuOn, "&On", "Ctrl+O");
    menu.Add(kMenuOff, "O&ff", "Ctrl+F");
    menu.Add(kMenuHidden, "&Hidden", "Ctrl+H");
    menu.Enable(kMenuOff, false);
    menu.Show(kMenuHidden, false);
    EXPECT_FALSE(menu.Active(kMenuOff));
    EXPECT_FALSE(menu.Visible(kMenuHidden));
    form.AttachPopup(kTree, &menu, nullptr);
    form.AddAccelerator(kMenuOn, 'O', true);
    form.AddAccelerator(kMenuOff, 'F', true);
    form.AddAccelerator(kMenuHidden, 'H', true);
    form.ShowModeless();
    SetFocus(tree);

    // Ctrl is held through the thread's key state while the keys go through
    // the loop; the last command ends it.
    form.StartOneShotTimer(1, 10, [&] {
        BYTE keys[256];
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        for (UINT key : {'F', 'H', 'O'}) PostMessageA(tree, WM_KEYDOWN, key, 1);
        PostMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(kMenuOff, 0), 0);
        PostMessageA(form.Handle(), WM_COMMAND, MAKEWPARAM(kMenuOn, 0), 0);
        form.StartOneShotTimer(2, 50, [&] {
            keys[VK_CONTROL] = 0;
            SetKeyboardState(keys);
            PostQuitMessage(7);
        });
    });
    EXPECT_EQ(form.RunMessageLoop(), 7);
    EXPECT_EQ(form.events, (std::vector<std::string>{"command 50", "command 50"}));
}

TEST(FormLoop, AnEscapingExceptionIsShownUnderTheApplicationsTitle) {
    class Thrower : public QXForm {
    protected:
        void OnCommand(int) override { throw std::runtime_error("handler failed"); }
    } form;
    ASSERT_TRUE(form.Create("TvFormsThrow", false, "throw", 200, 100, true, nullptr));
    HWND button = form.AddButton(1, "Go", 10, 10, 80, 24);
    QXSetApplicationTitle("Tarvisto Setup");
    std::string text;
    WhileDriving(
        [&] {
            HWND box = WaitForMessageBox(kWaitMs, "Tarvisto Setup");
            text = MessageBoxText(box);
            AnswerDialog(box, IDOK);
        },
        [&] { return SendMessageA(button, BM_CLICK, 0, 0); });
    QXSetApplicationTitle(nullptr);
    EXPECT_EQ(text, "handler failed");
    ClearLastError();
    // The form lives on.
    EXPECT_TRUE(IsWindow(form.Handle()));
}

TEST(FormLoop, TheExceptionBoxShowsTheTextUnderTheCaptionGiven) {
    // A program's entry without an application title shows what escaped so.
    struct Row {
        const char* what;
        const char* text;
    } rows[] = {
        {"job failed", "job failed"},
        {"", "Unknown exception"},
        {nullptr, "Unknown exception"},
    };
    for (const Row& row : rows) {
        std::string text;
        WhileDriving(
            [&] {
                HWND box = WaitForMessageBox(kWaitMs, "CryptTransfermodul");
                text = MessageBoxText(box);
                AnswerDialog(box, IDOK);
            },
            [&] {
                QXShowExceptionBox("CryptTransfermodul", row.what);
                return true;
            });
        EXPECT_EQ(text, row.text) << (row.what ? row.what : "null");
    }
}

TEST(FormDialogs, TheOpenDialogGivesAnExistingFileOrNothing) {
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::string file = std::string(folder) + UniqueName("open") + ".p12";
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
    char chosen[256] = "";
    bool ok = WhileDriving(
        [&] {
            HWND dialog = WaitForSaveAsDialog();
            ASSERT_NE(dialog, nullptr);
            AnswerSaveAs(dialog, file);
        },
        [&] {
            return QXAskOpenFileName(nullptr, "Certificates Files [PKCS#12] (*.pfx, *.p12)|*.pfx;*.p12",
                                     folder, chosen);
        });
    EXPECT_TRUE(ok);
    EXPECT_EQ(lstrcmpiA(chosen, file.c_str()), 0) << chosen;
    strcpy(chosen, "unchanged");
    ok = WhileDriving([&] { AnswerDialog(WaitForSaveAsDialog(), IDCANCEL); },
                      [&] { return QXAskOpenFileName(nullptr, "All (*.*)|*.*", folder, chosen); });
    EXPECT_FALSE(ok);
    EXPECT_STREQ(chosen, "unchanged");
    DeleteFileA(file.c_str());

    // A file whose full name does not fit 255 characters is refused, never cut.
    std::string deep = std::string(folder) + UniqueName("deep");
    CreateDirectoryA(deep.c_str(), nullptr);
    std::string name = deep + "\\" + std::string(256 - deep.size() - 5, 'n') + ".p12";
    ASSERT_EQ(name.size(), 256u);
    handle = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(handle);
    ok = WhileDriving([&] { AnswerSaveAs(WaitForSaveAsDialog(), name); },
                      [&] { return QXAskOpenFileName(nullptr, "All (*.*)|*.*", deep.c_str(), chosen); });
    EXPECT_FALSE(ok);
    EXPECT_STREQ(chosen, "unchanged");
    DeleteFileA(name.c_str());
    RemoveDirectoryA(deep.c_str());
}
