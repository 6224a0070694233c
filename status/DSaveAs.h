// TDSaveAs: the save-as question for a new .zip archive.
#pragma once

class TDSaveAs {
public:
    TDSaveAs() = default;
    // path: 256 characters, in and out. Returns path when a file was chosen,
    // else null (path unchanged; a choice longer than 255 characters is refused).
    char* AskSaveAs(char* path);
};
