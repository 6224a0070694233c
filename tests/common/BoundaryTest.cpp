// What is thrown inside a boundary of the window layer or of the shared helper
// (a window procedure, a timer action) becomes a failure value and an entry of the
// error record, never an exception that leaves it.
#include "QXBoundary.h"
#include "QXForms.h"
#include "QXTools.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "TestErrors.h"

using tvtest::TakeError;

namespace {

class Boundary : public ::testing::Test {
protected:
    void SetUp() override { ClearLastError(); }
    void TearDown() override { ClearLastError(); }
};

TEST_F(Boundary, WhatIsThrownBecomesTheFailureValueAndTheHeldFailure)
{
    struct Row {
        const char* name;
        void (*thrower)();
        const char* text;
    } rows[] = {
        {"standard exception", [] { throw std::runtime_error("disk on fire"); },
         "Unexpected failure in Where: disk on fire  [0 Unit 77]"},
        {"failed allocation", [] { throw std::bad_alloc(); },
         "Unexpected failure in Where: std::bad_alloc  [0 Unit 77]"},
        {"anything else", [] { throw 42; }, "Unexpected failure in Where  [0 Unit 77]"},
    };
    for (const Row& row : rows) {
        SetLastError(ERROR_ACCESS_DENIED);  // left over: says nothing about the exception
        int result = CatchAtBoundary("Unit", 77, "Where", -1, [&row]() -> int {
            row.thrower();
            return 1;
        });
        EXPECT_EQ(-1, result) << row.name;
        int32_t code = -1;
        EXPECT_EQ(row.text, TakeError(&code)) << row.name;
        EXPECT_EQ(0, code) << row.name;
    }
}

TEST_F(Boundary, ABodyThatReturnsGivesItsResultAndRecordsNothing)
{
    EXPECT_EQ(5, CatchAtBoundary("Unit", 77, "Where", -1, [] { return 5; }));
    int runs = 0;
    EXPECT_TRUE(RunAtBoundary("Unit", 77, "Where", [&runs] { ++runs; }));
    EXPECT_FALSE(RunAtBoundary("Unit", 77, "Void", [] { throw std::logic_error("no"); }));
    EXPECT_EQ(1, runs);
    EXPECT_EQ("Unexpected failure in Void: no  [0 Unit 77]", TakeError());
}

TEST_F(Boundary, TheSharedBoundaryHandsWhatEscapedOnOrJustGivesTheFailureValue)
{
    // The form of the zip library and the thread start, which keep no error
    // record, and the form with a reporter of the caller's own.
    struct Row {
        const char* name;
        void (*thrower)();
        const char* what;  // null: no text
    } rows[] = {
        {"standard exception", [] { throw std::runtime_error("disk on fire"); }, "disk on fire"},
        {"failed allocation", [] { throw std::bad_alloc(); }, "std::bad_alloc"},
        {"anything else", [] { throw 42; }, nullptr},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(-104, qx::AtBoundary(-104, [&row] {
                      row.thrower();
                      return 0;
                  })) << row.name;
        std::string seen = "not called";
        EXPECT_EQ(-1, qx::AtBoundary(
                          -1,
                          [&row] {
                              row.thrower();
                              return 1;
                          },
                          [&seen](const char* what) noexcept { seen = what ? what : "null"; }))
            << row.name;
        EXPECT_EQ(row.what ? row.what : "null", seen) << row.name;
        EXPECT_EQ("", TakeError()) << row.name << ": nothing is recorded";
    }
    EXPECT_EQ(3, qx::AtBoundary(-1, [] { return 3; }));
}

// A form whose handlers throw.
class ThrowingForm : public QXForm {
public:
    int escapes = 0;

protected:
    void OnEscape() override
    {
        ++escapes;
        throw std::runtime_error("escape handler");
    }
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT*) override
    {
        if (message == WM_APP)
            throw std::runtime_error("message handler");
        return false;
    }
};

TEST_F(Boundary, AWindowProcedureTurnsAThrowingHandlerIntoARecordedFailure)
{
    ThrowingForm form;
    ASSERT_TRUE(form.Create("TvBoundaryForm", false, "boundary", 200, 100, false, nullptr));
    HWND button = form.AddButton(1, "Go", 10, 10, 80, 24, true);
    ASSERT_NE(nullptr, button);

    EXPECT_EQ(0, SendMessageA(form.Handle(), WM_APP, 0, 0));
    EXPECT_EQ("Unexpected failure in QXForm::WindowProc: message handler  [0 QXForms 2801]",
              TakeError());

    // Esc on the button is handled in the control's own procedure.
    EXPECT_EQ(0, SendMessageA(button, WM_KEYDOWN, VK_ESCAPE, 0));
    EXPECT_EQ(1, form.escapes);
    EXPECT_EQ("Unexpected failure in QXForm::ControlProc: escape handler  [0 QXForms 2802]",
              TakeError());

    // The form lives on and goes on handling messages.
    EXPECT_TRUE(IsWindow(form.Handle()));
    SetWindowTextA(form.Handle(), "still here");
    char caption[32] = "";
    GetWindowTextA(form.Handle(), caption, sizeof caption);
    EXPECT_STREQ("still here", caption);
    form.Destroy();
}

TEST_F(Boundary, AThrowingTimerActionIsRecordedAndTheLoopGoesOn)
{
    QXMainWindow window;
    ASSERT_TRUE(window.Create("TvBoundaryMain", "boundary"));
    bool closed = false;
    ASSERT_TRUE(window.StartOneShotTimer(1, 0, [] { throw std::runtime_error("timer action"); }));
    ASSERT_TRUE(window.StartOneShotTimer(2, 100, [&] {
        closed = true;
        window.Close();
    }));
    EXPECT_EQ(0, window.Run());
    EXPECT_TRUE(closed);
    EXPECT_EQ("Unexpected failure in QXForm::WindowProc: timer action  [0 QXForms 2801]",
              TakeError());
}

}  // namespace
