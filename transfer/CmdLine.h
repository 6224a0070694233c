// CmdLine: the command line of the transfer program, split into a table of at
// most 10 entries (the program path included) and interpreted as one request:
//
//   tvcrypte file [ /SGN | /CRP | /SME recipient ]
//
// Kept apart from the window so that it can be tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int QX_MAX_ARGS = 10;
// An argument holds at most 255 characters; its entry keeps the quotes around it.
constexpr size_t QX_ARG_CHARS = 255;
constexpr size_t QX_ARG_ENTRY = QX_ARG_CHARS + 3;

struct TQXArgTable {
    int argc;                              // entries filled, the program path included
    char entries[QX_MAX_ARGS][QX_ARG_ENTRY];
    bool overlong[QX_MAX_ARGS];            // the token did not fit: refused, never cut
};

// Fills the table: entry 0 the program path, then the tokens of the line (the
// part after the program name). A token in double quotes keeps its opening
// quote and gets a closing one, blanks inside it stay; any other token ends at
// the next blank. Runs of blanks are skipped; at most 9 tokens are taken.
void SplitCommandLine(const char* line, const char* programPath, TQXArgTable* table);

// Trims white space at both ends; when the text then begins with a double
// quote, drops it and the last remaining character. False for no text.
bool StripQuotes(char* text);

// A trimmed path without a drive-and-folder part becomes folder (one trailing
// backslash cut) + "\" + path; a path with a folder part stays. The path is a
// buffer of 256 characters. False when either is missing or the joined path
// does not fit.
bool MakeFullPath(const char* folder, char* path);

enum class TransferAction {
    Nothing,           // no arguments, or a switch that names no operation
    ExecuteFile,       // no switch: the operation follows the file's extension
    ExecuteCommand,    // a switch: sign, encrypt or pack an envelope
    InvalidArguments,  // "Internal Error! - (Invalid Arguments)"
};

struct TransferRequest {
    TransferAction action;
    uint32_t op;          // OperationKind for ExecuteCommand: 2, 4 or 7
    char file[256];       // quotes stripped, completed with the current folder
    char recipient[256];  // quotes stripped; empty unless op is 7
};

// Interprets the table. currentFolder completes a file name without folder.
// An argument that is empty after its quotes are stripped, or longer than 255
// characters, gives InvalidArguments, as does "/SME" without a recipient.
void InterpretArguments(const TQXArgTable& table, const char* currentFolder,
                        TransferRequest* request);
