// Message boxes, routines run at program end, and the fatal runtime error report.
#pragma once

#include <cstdint>

#include "platform/handles.h"
#include "services/text.h"

namespace sk {

// Button codes returned by ShowMessageBox.
enum MessageBoxResult { kOk = 0, kCancel = 1, kAbort = 2, kRetry = 3, kIgnore = 4, kYes = 5, kNo = 6 };
constexpr unsigned kMbOk = 0;
constexpr unsigned kMbYesNo = 4;

// Task-modal unless the flags ask for system-modal; caption "信息：" when omitted.
int ShowMessageBox(const Text& text, unsigned flags = kMbOk, Opt<Text> caption = {},
                   Opt<platform::WindowHandle> owner = {});

// Routines run once each, in registration order, when the program ends normally.
void RegisterExitRoutine(void (*routine)());
void RunExitRoutines();

// Shows "运行时出错!" with the code and message, skips the exit routines, exits with -1.
[[noreturn]] void RuntimeErrorReport(const Text& message, Opt<int> code = {});

}  // namespace sk
