// TDSelectDir: the question for a folder to unzip into.
#pragma once

class TDSelectDir {
public:
    TDSelectDir() = default;
    // path: 256 characters, in (the archive) and out (the chosen folder).
    // Returns path when a folder was chosen, else null (path unchanged; a
    // folder longer than 255 characters is refused).
    char* AskDirectory(char* path);
};
