// TQXDlgOkHilfe: a message box with a text area and three buttons, in an
// information mode (OK, Cancel, Help) and a question mode (Yes, Cancel, No).
#pragma once

#include <cstdint>

#include "QXForms.h"
#include "StatusRecord.h"

class TQXDlgOkHilfe : public QXForm {
public:
    explicit TQXDlgOkHilfe(HWND owner);
    bool Created() const { return Handle() != nullptr; }

    // Information mode. Without a caption: false, nothing shown. A text
    // replaces the memo's; without one the collected lines are shown.
    // True unless the user chose Cancel.
    bool ShowText(const char* caption, const char* text);
    // Adds the text as a new line (or several) at the end; false for null.
    bool AppendText(const char* text);
    // Question mode: 0 Yes, 2 No, 6 Cancel (also the close box). Without a
    // caption the current result comes back, nothing shown.
    uint8_t AskYesNoCancel(const char* caption, const char* text);
    // Opens a help page of the folder "Hilfe" beside this module in the browser.
    bool OpenHelp(const char* page, const char* anchor);

    void BOKClick();
    void BHilfeClick();
    void BAbbruchClick();

    uint8_t Result() const { return result_; }
    bool HasText() const { return hasText_ != 0; }

protected:
    void OnCommand(int id) override;
    void OnEscape() override { BAbbruchClick(); }
    void OnCloseRequest() override;

private:
    void SetButtonTexts();
    HWND owner_;
    uint8_t hasText_ = 0;
    uint8_t mode_ = 0;  // 0 information, 1 question
    uint8_t result_ = AnswerOK;
};

// The address of a help page: "file:///" + the folder of this module + "\" +
// page, followed by the anchor, into 256 characters. False when it does not fit.
bool BuildHelpAddress(const char* folder, const char* page, const char* anchor, char* address);
// The folder of the module that holds this code, without a trailing backslash.
bool ModuleFolder(char* folder);
