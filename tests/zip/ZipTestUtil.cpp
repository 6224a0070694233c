#include "ZipTestUtil.h"

#include <cstring>

namespace ziptest {

bool WriteArchive(const std::string& path, const std::vector<Item>& items,
                  const char* globalComment, int append)
{
    zipFile z = zipOpen(path.c_str(), append, nullptr);
    if (!z)
        return false;
    bool ok = true;
    for (const Item& it : items) {
        zip_fileinfo info;
        memset(&info, 0, sizeof info);
        info.dosDate = it.dosDate;
        ok = ok && zipOpenNewFileInZip(z, it.name.c_str(), &info, nullptr, 0, nullptr, 0,
                                       it.comment.empty() ? nullptr : it.comment.c_str(),
                                       it.method, -1) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(z, it.data.data(), (unsigned)it.data.size()) >= 0;
        ok = ok && zipCloseFileInZip(z) == ZIP_OK;
    }
    return zipClose(z, globalComment) == ZIP_OK && ok;
}

bool ReadArchive(const std::string& path, std::vector<ReadItem>* items,
                 unsigned long* globalCommentSize)
{
    items->clear();
    unzFile u = unzOpen(path.c_str());
    if (!u)
        return false;
    unz_global_info g;
    bool ok = unzGetGlobalInfo(u, &g) == UNZ_OK;
    if (ok && globalCommentSize)
        *globalCommentSize = g.size_comment;
    for (unsigned long i = 0; ok && i < g.number_entry; ++i) {
        if (i > 0 && unzGoToNextFile(u) != UNZ_OK) {
            ok = false;
            break;
        }
        unz_file_info info;
        char name[256], comment[256];
        if (unzGetCurrentFileInfo(u, &info, name, sizeof name, nullptr, 0, comment,
                                  sizeof comment) != UNZ_OK ||
            unzOpenCurrentFile(u) != UNZ_OK) {
            ok = false;
            break;
        }
        ReadItem r;
        r.name = name;
        r.comment = comment;
        r.dosDate = (uint32_t)info.dosDate;
        r.method = info.compression_method;
        char buf[7000];
        int n;
        while ((n = unzReadCurrentFile(u, buf, sizeof buf)) > 0)
            r.data.append(buf, (size_t)n);
        r.readResult = n;
        unzCloseCurrentFile(u);
        items->push_back(r);
        ok = n == 0;
    }
    if (ok && unzGoToNextFile(u) != UNZ_END_OF_LIST_OF_FILE)
        ok = false;
    unzClose(u);
    return ok;
}

std::vector<std::string> Names(const std::vector<ReadItem>& items)
{
    std::vector<std::string> names;
    for (const ReadItem& r : items)
        names.push_back(r.name);
    return names;
}

size_t DataOffset(const std::string& bytes, const std::string& name)
{
    std::string sig("PK\x03\x04", 4);
    for (size_t p = bytes.find(sig); p != std::string::npos; p = bytes.find(sig, p + 1)) {
        if (p + 30 > bytes.size())
            break;
        auto u16 = [&](size_t at) {
            return (size_t)(unsigned char)bytes[at] | ((size_t)(unsigned char)bytes[at + 1] << 8);
        };
        size_t n = u16(p + 26), m = u16(p + 28);
        if (bytes.compare(p + 30, n, name) == 0 && n == name.size())
            return p + 30 + n + m;
    }
    return std::string::npos;
}

}  // namespace ziptest
