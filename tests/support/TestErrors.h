// The held failure of the error record, as tests read it.
#pragma once

#include "QXTools.h"

#include <string>

namespace tvtest {

// Takes the held failure (and clears it); empty text when none is held.
inline std::string TakeError(int32_t* code = nullptr)
{
    ErrorRecord r;
    GetLastErrorInfo(&r);
    if (code)
        *code = r.code;
    return r.set ? std::string(r.text) : std::string();
}

inline bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace tvtest
