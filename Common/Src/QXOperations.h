// QXOperations: the operations a job does and everything that belongs to
// each: its number, its texts in the progress window and the error box, the
// extension of its messages, the report of a file or tree that failed, and how
// the user asks for it (the transfer program's switch, the context menu's
// entry and picture, the double-click on a file). The engine, the context
// menu, the dialogs library and the transfer program read this one table;
// adding an operation starts here.
#pragma once

#include <cstdint>

// One numbering of what a job does (requests outside 1 to 5 pack an envelope).
enum OperationKind : uint32_t {
    OpUnpackEnvelope = 1,
    OpSign = 2,
    OpVerify = 3,
    OpEncrypt = 4,
    OpDecrypt = 5,
    OpCountFiles = 6,
    OpPackEnvelope = 7,
    OpCompress = 8,
    OpDecompress = 9,
    OpUpdate = 10,
    OpRestore = 11,
};

struct OperationTraits {
    uint32_t kind;           // OperationKind
    const char* statusText;  // the status line while it runs
    const char* doneText;    // its verb

    // The six file operations; null or 0 for the other kinds.
    const char* errorText;   // the operation as the error box names it
    const char* failure;     // the failure message of a file
    int location;            // the report location of a file
    int treeLocation;        // the report location of a tree
    const char* extension;   // the extension of its messages
    // true: works only on files with the extension and takes it off, and a
    // double-click on such a file runs it; false: works on every other file
    // and appends the extension.
    bool worksOnExtension;
    uint32_t counterpart;    // the operation that undoes it

    // How the user asks for it; null or 0 where there is no such way.
    const char* commandSwitch;  // of the transfer program, compared on its length
    bool takesRecipient;        // the certificate of a recipient goes with it
    const char* menuText;       // the context menu's entry (the envelope: its submenu)
    unsigned menuOffset;        // command offset (the envelope: its first recipient)
    int menuPicture;            // bitmap resource of the entry
};

// By kind; the five operations of the context menu are in the order of its popup.
inline constexpr OperationTraits kOperationTable[] = {
    {OpUnpackEnvelope, "unpacking digital envelope... please wait!", "digital envelope unpacked",
     "'unpacking digital envelope'", "This file(s) could not be verified!", 3231, 3740,
     ".sme", true, OpPackEnvelope,
     nullptr, false, "&Unpack Digital Envelope", 1, 105},
    {OpSign, "signing data... please wait!", "signed",
     "'signing data'", "This file(s) could not be signed!", 2248, 3598,
     ".sgn", false, OpVerify,
     "/SGN", false, "&Sign", 2, 100},
    {OpVerify, "verifying data... please wait!", "verified",
     "'verifying data'", "This file(s) could not be verified!", 2481, 3632,
     ".sgn", true, OpSign,
     nullptr, false, "&Verifiy", 3, 101},
    {OpEncrypt, "encrypting data... please wait!", "encrypted",
     "'encrypting data'", "This file(s) could not be encrypted!", 2703, 3704,
     ".crp", false, OpDecrypt,
     "/CRP", false, "&Encrypt", 4, 103},
    {OpDecrypt, "decrypting data... please wait!", "decrypted",
     "'decrypting data'", "This file(s) could not be decrypted!", 2927, 3668,
     ".crp", true, OpEncrypt,
     nullptr, false, "&Decrypt", 5, 102},
    {OpCountFiles, "initializing... please wait!", "initializing... please wait!"},
    {OpPackEnvelope, "packing digital envelope... please wait!", "digital envelope packed",
     "'packing digital envelope'", "This file(s) could not be enveloped!", 3539, 3778,
     ".sme", false, OpUnpackEnvelope,
     "/SME", true, "Digital E&nvelope for...", 7, 106},
    {OpCompress, "compressing data... please wait!", "data compressed (ZIP)"},
    {OpDecompress, "decompressing data... please wait!", "data decompressed (UNZIP)"},
    {OpUpdate, "update data... please wait!", "data updated"},
    {OpRestore, "restoring data... please wait!", "data restored"},
};

// The status line and verb of a kind outside the table.
inline constexpr char kUnknownOperationText[] = "initializing... please wait!";

// The row of a kind; null outside 1 to 11.
constexpr const OperationTraits* FindOperation(uint32_t kind) {
    for (const OperationTraits& row : kOperationTable)
        if (row.kind == kind) return &row;
    return nullptr;
}

// The row of one of the six file operations; null for any other kind.
constexpr const OperationTraits* FindFileOperation(uint32_t kind) {
    const OperationTraits* row = FindOperation(kind);
    return row && row->failure ? row : nullptr;
}

// A double-click on a file of the operation's extension runs it (the shell
// rows name these extensions).
constexpr bool OpensOnDoubleClick(const OperationTraits& row) {
    return row.extension != nullptr && row.worksOnExtension;
}

// The extension of a file operation's messages; "" for any other kind.
constexpr const char* OperationExtension(uint32_t kind) {
    const OperationTraits* row = FindFileOperation(kind);
    return row ? row->extension : "";
}
