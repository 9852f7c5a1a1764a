#pragma once

#include <string>
#include <string_view>

namespace zuvo::platform::win32 {

// The name of one of the programs' named objects (the mutex, the pipes, the shared block).
// ZUVOBOX_OBJECT_SUFFIX, when set, is appended to every one of them, so that tests can run
// several programs side by side in one Wine prefix without meeting. Loggers and RTTY
// programs look for the plain names; operators never set it.
std::string ObjectName(std::string_view base);

}  // namespace zuvo::platform::win32
