// TDYesNoAll: a question with five answers (Yes, Yes to all, No, No to all,
// Cancel) for a write-protected file or an output that exists already.
#pragma once

#include <cstdint>

#include "QXForms.h"
#include "StatusRecord.h"

class TDYesNoAll : public QXForm {
public:
    // caption may be null (the design caption stays).
    TDYesNoAll(HWND owner, const char* caption);
    bool Created() const { return Handle() != nullptr; }
    // Shows the question modally; the AnswerCode (6 when closed by the close
    // box). Without a text the current answer comes back, nothing shown.
    uint8_t Ask(const char* text);

    void AnswerYes() { Answer(::AnswerYes); }
    void AnswerYesAll() { Answer(::AnswerYesAll); }
    void AnswerNo() { Answer(::AnswerNo); }
    void AnswerNoAll() { Answer(::AnswerNoAll); }
    void AnswerCancel() { Answer(::AnswerCancel); }

protected:
    void OnCommand(int id) override;
    void OnEscape() override { AnswerCancel(); }
    void OnCloseRequest() override { AnswerCancel(); }

private:
    void Answer(uint8_t code);
    uint8_t answer_ = ::AnswerCancel;
};
