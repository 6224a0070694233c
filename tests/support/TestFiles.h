// Files and folders that a test makes for itself and removes again.
#pragma once

#include <string>
#include <vector>

namespace tvtest {

// A fresh folder under the temporary folder, removed with all it holds.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "tv");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "\\" + relative
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

// Removes a file or a whole folder tree (read-only attributes cleared first).
void RemoveTree(const std::string& path);

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);  // empty when it cannot be read
bool Exists(const std::string& path);
void MakeDir(const std::string& path);  // with missing parents
// The names in a folder that a pattern ("*", "~tv*") matches, "." and ".."
// left out, in the listing's order; filesOnly leaves folders out too.
std::vector<std::string> ListNames(const std::string& folder, const std::string& pattern = "*",
                                   bool filesOnly = false);

// The folder of that name beside the test program when the test run made it a
// file system of at most 1 MiB (tests/common/make-full-disk.sh); empty when
// it is not one, and the test that needs a full disk then skips.
std::string FullDiskFolder(const std::string& name);

// Deterministic pseudo-random bytes.
std::string PatternBytes(size_t size, unsigned seed = 1);

// A unique name for this process and call, also among the test programs that
// run at once: prefix + run + pid + counter.
std::string UniqueName(const std::string& prefix);

}  // namespace tvtest
