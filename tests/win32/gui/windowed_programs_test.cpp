// The windowed programs as separate processes on the simulated box: the close box ends
// ZuvoBox.exe the way the logic closes (Keyer Control 8 last), and --screenshot saves a PNG
// of either window and then ends the program by itself.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "ui/main_ids.h"
#include "win32/win32_process.h"

namespace zuvo::test {
namespace {

struct Search {
    DWORD process;
    HWND found;
};

// The visible top-level window of the process, once it has one (or null after 20 s).
HWND WindowOf(DWORD process) {
    const auto end = Clock::now() + std::chrono::seconds(20);
    Search search{process, nullptr};
    while (search.found == nullptr && Clock::now() < end) {
        ::EnumWindows(
            [](HWND window, LPARAM p) -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                DWORD owner = 0;
                ::GetWindowThreadProcessId(window, &owner);
                if (owner == s->process && ::IsWindowVisible(window)) {
                    s->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        ::Sleep(20);
    }
    return search.found;
}

class WindowedPrograms : public ::testing::Test {
  protected:
    std::unique_ptr<Process> Run(const std::string& program, const std::string& name,
                                 std::vector<std::string> args) {
        args.insert(args.begin(), "--simulate");
        auto process = std::make_unique<Process>(
            ProgramPath(program), args,
            std::map<std::string, std::string>{{"ZUVOBOX_OBJECT_SUFFIX", UniqueSuffix()},
                                               {"ALLUSERSPROFILE", dir.Path()}},
            dir / (name + ".out"), dir / (name + ".err"));
        EXPECT_TRUE(process->Started()) << program << ": error " << process->StartError();
        return process;
    }
    bool IsPng(const std::string& path) {
        return ReadFile(path).rfind("\x89PNG\r\n\x1a\n", 0) == 0;
    }

    TempFolder dir;
};

TEST_F(WindowedPrograms, TheCloseBoxEndsZuvoBoxWithKeyerControl8Last) {
    auto zuvo = Run("ZuvoBox.exe", "zuvo", {"--sim-transcript", dir / "zuvo.transcript"});
    HWND window = WindowOf(zuvo->Id());
    ASSERT_NE(window, nullptr) << ReadFile(dir / "zuvo.err");
    char title[64] = {};
    ::GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Zuvo Box");
    // Connected once the event log shows its first line.
    HWND log = ::GetDlgItem(window, ids::kEventLogList);
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (::SendMessageA(log, LB_GETCOUNT, 0, 0) <= 0 && Clock::now() < end) {
        ::Sleep(20);
    }
    ASSERT_GT(::SendMessageA(log, LB_GETCOUNT, 0, 0), 0);

    ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    ASSERT_EQ(zuvo->Wait(), 0);
    std::string lastHost;
    for (const auto& line : ReadLines(dir / "zuvo.transcript")) {
        if (line.find(" host ") != std::string::npos) {
            lastHost = line.substr(line.find(" host ") + 1);
        }
    }
    EXPECT_EQ(lastHost.rfind("host 0x16 0x08", 0), 0u) << lastHost;
}

TEST_F(WindowedPrograms, ScreenshotsAreSavedAndEndTheProgram) {
    auto zuvo = Run("ZuvoBox.exe", "zuvo", {"--screenshot", dir / "main.png"});
    EXPECT_EQ(zuvo->Wait(std::chrono::seconds(30)), 0) << ReadFile(dir / "zuvo.err");
    EXPECT_TRUE(IsPng(dir / "main.png"));
    auto utility = Run("ZuvoBoxUtility.exe", "utility", {"--screenshot", dir / "utility.png"});
    EXPECT_EQ(utility->Wait(std::chrono::seconds(30)), 0) << ReadFile(dir / "utility.err");
    EXPECT_TRUE(IsPng(dir / "utility.png"));
}

}  // namespace
}  // namespace zuvo::test
