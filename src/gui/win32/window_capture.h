#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/message_window.h"

namespace zuvo::gui::win32 {

// Saves what the window shows on the screen, its frame included, as a PNG file. False,
// with the reason in `error`, when it cannot. The window must be visible and not covered.
bool SaveWindowPng(HWND window, const std::string& path, std::string& error);

// --screenshot: delayMs after the window shows, saves `dialog` to `path` and closes it
// through WM_CLOSE. When the picture cannot be saved, says why on stderr after "program: "
// and sets `status` to 1. The handler stays on `window` until the caller removes it.
void ArmScreenshot(platform::win32::MessageWindow& window, HWND dialog, const std::string& path,
                   int delayMs, const char* program, int& status);

}  // namespace zuvo::gui::win32
