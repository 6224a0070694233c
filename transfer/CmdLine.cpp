// CmdLine: splitting and interpreting the transfer program's command line.
#include "CmdLine.h"

#include <windows.h>
#include <cstring>

#include "QXOperations.h"
#include "QXTools.h"

namespace {

// Stores [from, to) of line as the next entry, with a closing quote when asked.
void StoreToken(TQXArgTable* table, const char* from, size_t length, bool closeQuote) {
    int i = table->argc;
    size_t needed = length + (closeQuote ? 1 : 0);
    char* entry = table->entries[i];
    // A quoted argument of 255 characters fits with both its quotes.
    size_t limit = closeQuote ? QX_ARG_CHARS + 2 : QX_ARG_CHARS;
    if (needed > limit) {
        entry[0] = 0;
        table->overlong[i] = true;
    } else {
        memcpy(entry, from, length);
        if (closeQuote) entry[length++] = '"';
        entry[length] = 0;
        table->overlong[i] = false;
    }
    table->argc = i + 1;
}

// The entry's text with its quotes stripped, when it fits 255 characters and
// holds more than white space.
bool TakeArgument(const TQXArgTable& table, int index, char* destination) {
    destination[0] = 0;
    if (index >= table.argc || table.overlong[index]) return false;
    char work[QX_ARG_ENTRY];
    memcpy(work, table.entries[index], sizeof(work));
    work[sizeof(work) - 1] = 0;
    StripQuotes(work);
    // Blanks alone inside the quotes count as empty as well.
    if (work[strspn(work, " \t\r\n\v\f")] == 0) return false;
    return CopyText(destination, 256, work);
}

}  // namespace

void SplitCommandLine(const char* line, const char* programPath, TQXArgTable* table) {
    memset(table, 0, sizeof(*table));
    if (programPath != nullptr) {
        size_t n = strnlen(programPath, QX_ARG_CHARS);
        memcpy(table->entries[0], programPath, n);
        table->entries[0][n] = 0;
    }
    table->argc = 1;
    if (line == nullptr || line[0] == 0) return;

    size_t length = strlen(line);
    size_t j = 0;
    while (j < length && table->argc < QX_MAX_ARGS) {
        if (line[j] == '"') {
            size_t start = j;
            size_t end = j + 1;
            while (end < length && line[end] != '"') ++end;
            StoreToken(table, line + start, end - start, true);
            j = end;  // on the closing quote, or the end
        } else if (line[j] != ' ') {
            size_t start = j;
            size_t end = j;
            while (end < length && line[end] != ' ') ++end;
            StoreToken(table, line + start, end - start, false);
            j = end;  // on the blank after the token, or the end
        }
        ++j;
    }
}

bool StripQuotes(char* text) {
    if (text == nullptr) return false;
    Trim(text);
    if (text[0] == '"') {
        size_t length = strlen(text);
        memmove(text, text + 1, length);  // with the terminator
        length -= 1;
        if (length > 0) text[length - 1] = 0;
    }
    return true;
}

bool MakeFullPath(const char* folder, char* path) {
    if (folder == nullptr || path == nullptr) return false;
    Trim(path);
    char drive[256] = {0};
    if (!SplitPath(path, drive, nullptr, nullptr)) return false;
    if (drive[0] != 0) return true;
    if (folder[0] == 0) return false;  // a relative name with no folder to complete it

    char base[256];
    if (!CopyText(base, sizeof(base), folder)) return false;
    StripTrailingBackslash(base);
    char joined[512];
    FormatText(joined, sizeof(joined), "%s\\%s", base, path);
    return CopyText(path, 256, joined);
}

void InterpretArguments(const TQXArgTable& table, const char* currentFolder,
                        TransferRequest* request) {
    memset(request, 0, sizeof(*request));
    request->action = TransferAction::Nothing;
    if (table.argc < 2) return;

    request->action = TransferAction::InvalidArguments;
    if (!TakeArgument(table, 1, request->file)) return;
    if (!MakeFullPath(currentFolder != nullptr ? currentFolder : "", request->file)) return;

    if (table.argc <= 2) {
        request->action = TransferAction::ExecuteFile;
        return;
    }
    char option[256];
    if (!TakeArgument(table, 2, option)) return;
    CharUpperA(option);

    for (const OperationTraits& operation : kOperationTable) {
        const char* name = operation.commandSwitch;
        if (name == nullptr || strncmp(option, name, strlen(name)) != 0) continue;
        if (operation.takesRecipient && !TakeArgument(table, 3, request->recipient)) return;
        request->op = operation.kind;
        request->action = TransferAction::ExecuteCommand;
        return;
    }
    request->action = TransferAction::Nothing;
}
