// tvCryptIF: the operation front through which the job runner drives the
// crypt engine. A folder goes to the job's tree driver, a file to its file
// operation. Creating the front creates the job object (and with it the
// progress window, on the calling thread); deleting it closes the window.
#pragma once

#include <cstdint>
#include <memory>

#include "FileAPI.h"
#include "QXCryptDir.h"
#include "QXTools.h"

class TQXCryptIF {
public:
    TQXCryptIF();
    ~TQXCryptIF();
    TQXCryptIF(const TQXCryptIF&) = delete;
    TQXCryptIF& operator=(const TQXCryptIF&) = delete;

    bool Sign(int32_t fileCount, const char* path);
    bool Verify(int32_t fileCount, const char* path);
    bool Decrypt(int32_t fileCount, const char* path);
    bool Encrypt(int32_t fileCount, const char* path);
    bool UnpackEnvelope(int32_t fileCount, const char* path);
    bool PackEnvelope(int32_t fileCount, const char* path, const char* recipientSubject);
    // Any of the six by its OperationKind; false for another kind. The
    // recipient is read for packing only.
    bool Dispatch(uint32_t kind, int32_t fileCount, const char* path, const char* recipientSubject);
    bool SetStatusKind(uint32_t kind);
    // Adds the number of files the path holds (1 for a file) to *counter.
    bool Count(const char* path, int32_t* counter);

    std::unique_ptr<TQXTools> tools;
    std::unique_ptr<TQXFile> fileHelper;
    std::unique_ptr<TQXCryptDir> job;
};
