// QXBoundary: the one boundary of exported functions, COM methods, window
// procedures, callbacks and thread routines: nothing thrown may leave them.
// Header only and free of the other common units, so that the zip library,
// which links none of them, has it too. The units that keep an error record
// report through CatchAtBoundary (QXTools.h), which is built on this.
#pragma once

#include <exception>
#include <utility>

namespace qx {

// Runs body and returns its result. An exception that would leave body is
// caught and handed to escaped, as its text (what()) or null for one that is
// no std::exception, and failure is returned instead. escaped must not throw.
template <typename Result, typename Body, typename Escaped>
Result AtBoundary(Result failure, Body&& body, Escaped&& escaped) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& error) {
        escaped(error.what());
    } catch (...) {
        escaped(nullptr);
    }
    return failure;
}

// The same where the failure value says all there is to say.
template <typename Result, typename Body>
Result AtBoundary(Result failure, Body&& body) noexcept
{
    return AtBoundary(failure, std::forward<Body>(body), [](const char*) noexcept {});
}

}  // namespace qx
