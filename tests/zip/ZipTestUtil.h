// Small helpers of the zip tests: archives written and read straight through
// qxcpr32, and raw byte edits of archive files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qxcpr32.h"

namespace ziptest {

struct Item {
    std::string name;
    std::string data;
    std::string comment;
    int method = 8;
    uint32_t dosDate = 0x58A16000;  // 2024-05-01 12:00:00
};

struct ReadItem {
    std::string name;
    std::string data;
    std::string comment;
    uint32_t dosDate = 0;
    unsigned long method = 0;
    int readResult = 0;  // the last unzReadCurrentFile result (0: verified end)
};

// Writes a new archive (append 0) or appends (append 1); true when every call succeeded.
bool WriteArchive(const std::string& path, const std::vector<Item>& items,
                  const char* globalComment, int append = 0);
// Reads every entry; false when the archive does not open or an entry fails.
bool ReadArchive(const std::string& path, std::vector<ReadItem>* items,
                 unsigned long* globalCommentSize = nullptr);
std::vector<std::string> Names(const std::vector<ReadItem>& items);

// Offset of the first byte of an entry's stored data (from its local header).
size_t DataOffset(const std::string& archiveBytes, const std::string& name);

}  // namespace ziptest
