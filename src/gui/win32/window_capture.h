#pragma once

#include <windows.h>

#include <string>

namespace zuvo::gui::win32 {

// Saves what the window shows on the screen, its frame included, as a PNG file. False,
// with the reason in `error`, when it cannot. The window must be visible and not covered.
bool SaveWindowPng(HWND window, const std::string& path, std::string& error);

}  // namespace zuvo::gui::win32
