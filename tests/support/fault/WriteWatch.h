// The moments at which this program writes files, as a kill at that moment
// would find them. While a watch is alive, every CreateFileA that creates or
// truncates a file for writing and every WriteFile on a file, made by this
// program's own code on any thread, first calls the watcher with the file's
// path (what a DLL writes with its own calls is not seen). Calls that the
// watcher makes itself are not watched. One watch at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace tvtest {

class WriteWatch {
public:
    enum class Event { Create, Write };
    using Watcher = std::function<void(Event event, const std::string& path)>;

    explicit WriteWatch(Watcher watcher);
    ~WriteWatch();
    WriteWatch(const WriteWatch&) = delete;
    WriteWatch& operator=(const WriteWatch&) = delete;
    // The calls are watched.
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// The last component of a path.
std::string BaseName(const std::string& path);

}  // namespace tvtest
