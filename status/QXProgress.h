// TQXProgress: the window that stays on screen while a job runs: status line,
// file counter, progress bar or animation, the Cancel button, the error box
// of a failed file and the collected lines of validly signed files.
#pragma once

#include <cstdint>
#include <memory>

#include "QXDlgOkHilfe.h"
#include "QXForms.h"
#include "StatusRecord.h"

class TQXProgress : public QXForm {
public:
    explicit TQXProgress(HWND owner);
    ~TQXProgress() override;
    bool Created() const { return Handle() != nullptr; }

    bool LoadAnimation();
    // False: stop the job (a cancel request is reported exactly once).
    bool UpdateStatus(const StatusRecord* record);
    bool ShowError(const StatusRecord* record);
    bool ShowFileCounter(const char* name, const char* folder, uint32_t current, uint32_t total);
    bool SetProgress(uint32_t current, uint32_t total);
    bool AddSignatureInfo(const StatusRecord* record);
    bool ShowSignatureInfo();
    bool RequestAbort();
    // The close handling of CloseQXStatus: the bar jumps to its end, pending
    // signature lines are shown.
    void FormClose();
    void BAbbruchClick() { RequestAbort(); }

    void StopAnimation();
    void StartAnimation();
    // Raises the window: focus, activation, foreground, top.
    void BringForward();

    uint8_t aviAvailable = 0;
    uint8_t sigInfoPending = 0;
    uint8_t cancelRequested = 0;
    uint8_t showSigInfoOnClose = 1;
    std::unique_ptr<TQXDlgOkHilfe> sigInfoDialog;

protected:
    void OnCommand(int id) override;
    void OnEscape() override;
    // Alt+F4 or a close from the shell cancels the job like the button; only
    // CloseQXStatus destroys the window.
    void OnCloseRequest() override;

private:
    void ShowBar(bool show);
    bool barVisible_ = true;
    HWND owner_;
};

// The version caption (QX_CAPTION_VERSION) and the makers' notice.
extern const char* const kProgressTitle;
