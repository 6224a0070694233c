// QXCryptE: the hidden main form of the transfer program and the two calls
// that hand one request to the job thread class.
#include "QXCryptE.h"

#include <cstring>
#include <memory>
#include <new>

#include "QXOleThr.h"
#include "QXTools.h"

namespace {

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT kTimer1Interval = 10;
constexpr DWORD kEndDelayMs = 200;

// The file as the job gets it: quotes stripped, completed with the folder.
bool PrepareFile(const char* currentFolder, const char* file, TQXSelFil* list) {
    char path[256];
    if (!CopyText(path, sizeof(path), file)) return false;
    StripQuotes(path);
    if (path[0] == 0 || !MakeFullPath(currentFolder, path)) return false;
    memcpy(list[0], path, sizeof(TQXSelFil));
    return true;
}

}  // namespace

TQXCryptEForm::TQXCryptEForm(const TQXArgTable* arguments)
    : argv(arguments), argc(arguments != nullptr ? arguments->argc : 0) {}

TQXCryptEForm::~TQXCryptEForm() = default;

bool TQXCryptEForm::Create() {
    if (!QXMainWindow::Create("TQXCryptEForm", QX_TRANSFER_TITLE)) return false;
    ShowWindow(Handle(), SW_HIDE);
    return StartOneShotTimer(kTimer1, kTimer1Interval, [this] { Timer1Timer(); });
}

void TQXCryptEForm::Timer1Timer() {
    ShowWindow(Handle(), SW_HIDE);

    if (argc >= 2 && argv != nullptr) {
        char currentFolder[256] = {0};
        DWORD length = GetCurrentDirectoryA(sizeof(currentFolder), currentFolder);
        if (length == 0 || length >= sizeof(currentFolder)) currentFolder[0] = 0;
        StripTrailingBackslash(currentFolder);

        TransferRequest request;
        InterpretArguments(*argv, currentFolder, &request);
        switch (request.action) {
        case TransferAction::ExecuteFile:
            ExecuteFile(currentFolder, request.file);
            break;
        case TransferAction::ExecuteCommand:
            ExecuteCommand(currentFolder, request.file, request.recipient, request.op);
            break;
        case TransferAction::InvalidArguments: {
            ErrorRecord held;
            GetLastErrorInfo(&held);
            char text[1400];
            FormatText(text, sizeof(text), "%s - %s", QX_INVALID_ARGUMENTS,
                       held.set ? held.text : "");
            QXMessageBox(Handle(), text, QX_ERROR_CAPTION, MB_ICONERROR);
            break;
        }
        case TransferAction::Nothing:
            break;
        }
    }

    Sleep(kEndDelayMs);
    Close();  // the message loop ends with the main window
}

bool ExecuteFile(const char* currentFolder, const char* file) {
    if (file == nullptr) return false;
    std::unique_ptr<TQXSelFil[]> list(new (std::nothrow) TQXSelFil[1]);
    std::unique_ptr<TQXOleThr> thr(new (std::nothrow) TQXOleThr());
    bool result = false;
    if (list != nullptr && thr != nullptr && PrepareFile(currentFolder, file, list.get())) {
        result = thr->DoExecuteFile(1, list.get(), nullptr);
    }
    thr.reset();
    list.reset();
    PumpMessages(nullptr, 0, 0);
    return result;
}

bool ExecuteCommand(const char* currentFolder, const char* file, const char* recipient,
                    uint32_t op) {
    if (file == nullptr || recipient == nullptr || op == 0) return false;
    std::unique_ptr<TQXSelFil[]> list(new (std::nothrow) TQXSelFil[1]);
    std::unique_ptr<TQXOleThr> thr(new (std::nothrow) TQXOleThr());
    bool result = false;
    if (list != nullptr && thr != nullptr && PrepareFile(currentFolder, file, list.get())) {
        result = thr->DoExecuteTarvisto(op, 1, list.get(), recipient);
    }
    thr.reset();
    list.reset();
    PumpMessages(nullptr, 0, 0);
    return result;
}
