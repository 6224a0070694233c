// QXCryptE: the transfer program's only form, never shown. A one-shot timer
// 10 ms after the message loop starts runs the command line once through the
// job thread class, then closes the form 200 ms after the request, which ends
// the program.
#pragma once

#include <windows.h>
#include <cstdint>

#include "CmdLine.h"
#include "QXForms.h"
#include "QXVersion.h"

#define QX_TRANSFER_TITLE "CryptTransfermodul"

class TQXCryptEForm : public QXMainWindow {
public:
    // The argument table belongs to the caller and outlives the form.
    explicit TQXCryptEForm(const TQXArgTable* arguments);
    ~TQXCryptEForm() override;

    // Creates the hidden window and arms Timer1 (10 ms).
    bool Create();
    // Runs the command line once, then closes the form.
    void Timer1Timer();

private:
    const TQXArgTable* argv;
    int argc;
};

// Run one job through TQXOleThr on a path that the command line completed;
// both return when the job has ended, with the result of the TQXOleThr call.
bool ExecuteFile(const char* currentFolder, const char* file);
bool ExecuteCommand(const char* currentFolder, const char* file, const char* recipient,
                    uint32_t op);
