// A Windows logger under Wine on the Linux ZuvoBox: the pty links of "Pipes" become Wine COM
// ports (links in the prefix's dosdevices folder), and a Windows serial client built here,
// run through zuvobox-run as an operator runs a strict logger, opens them, sets them up as
// loggers do (modem status and DTR included), does host open and keys text on the keyer
// port and switches to radio 2 on the switching port. The simulated box's transcript shows
// the text keyed. A Linux program (built with the host's compiler), because it runs the
// Linux programs.
//
// Arguments: the paths of wine, the Linux ZuvoBox (zuvobox-run beside it) and
// zuvo_wine_serial_logger.exe. WINEPREFIX names the prefix. Exits 77 (skipped) when the
// Linux programs are not built.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "integration/child_process.h"
#include "integration/pty_client.h"

namespace zuvo::test {
namespace {

std::string g_wine, g_zuvoBox, g_run, g_logger;

// COMn of the prefix as a link to a Linux device, removed again at the end.
class ComLink {
  public:
    ComLink(int number, const std::string& device)
        : link_(std::string(std::getenv("WINEPREFIX")) + "/dosdevices/com" +
                std::to_string(number)) {
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
        std::filesystem::create_symlink(device, link_, ignored);
    }
    ~ComLink() {
        std::error_code ignored;
        std::filesystem::remove(link_, ignored);
    }
    bool Ok() const { return std::filesystem::is_symlink(link_); }

  private:
    std::string link_;
};

TEST(WineLogger, WindowsSerialClientKeysAndSwitchesThroughTheLinuxPtys) {
    ASSERT_NE(std::getenv("WINEPREFIX"), nullptr);
    TempFolder dir;
    std::filesystem::create_directories(dir / "config");
    std::ofstream(dir / "ZuvoBox.ini") << "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n";
    {
        ChildProcess zuvo(g_zuvoBox,
                          {"--headless", "--simulate", "--ini", dir / "ZuvoBox.ini",
                           "--sim-transcript", dir / "box.transcript"},
                          PrivateEnv(dir), dir / "zuvo.out", dir / "zuvo.err");
        ASSERT_TRUE(
            zuvo.WaitForLine("Connected to Zuvo Box version 1.0-0", 1, std::chrono::seconds(10)))
            << ReadFile(dir / "zuvo.err");
        ASSERT_TRUE(WaitForPath(dir / "zuvobox/WINKEY_DEVICE"));
        ASSERT_TRUE(WaitForPath(dir / "zuvobox/OTRSP_DEVICE"));
        // COM27 and COM28: numbers no other test uses (the COM-port tests, which may run at
        // the same time in the same prefix, have 29 to 32). The links point at ZuvoBox's own
        // links, as an operator's would.
        ComLink keyer(27, dir / "zuvobox/WINKEY_DEVICE");
        ComLink switching(28, dir / "zuvobox/OTRSP_DEVICE");
        ASSERT_TRUE(keyer.Ok() && switching.Ok());

        ChildProcess logger(g_run, {g_wine, g_logger, "27", "28", "CQ"}, PrivateEnv(dir),
                            dir / "logger.out", dir / "logger.err");
        const int code = logger.Wait(std::chrono::seconds(60));
        const std::string said = ReadFile(dir / "logger.out");
        EXPECT_EQ(code, 0) << said << ReadFile(dir / "logger.err");
        EXPECT_NE(said.find("GetCommModemStatus: ok"), std::string::npos) << said;
        EXPECT_NE(said.find("version: 0A"), std::string::npos) << said;
        EXPECT_NE(said.find("name: NAME"), std::string::npos) << said;
        EXPECT_NE(said.find("tx: TX2"), std::string::npos) << said;

        zuvo.Signal(SIGTERM);
        EXPECT_EQ(zuvo.Wait(std::chrono::seconds(10)), 0);
    }
    std::string keyed;
    for (const auto& line : ReadLines(dir / "box.transcript")) {
        long ms = 0;
        unsigned c = 0;
        if (std::sscanf(line.c_str(), "%ld keyed 0x%x", &ms, &c) == 2) {
            keyed += static_cast<char>(c);
        }
    }
    EXPECT_EQ(keyed, "CQ");
}

}  // namespace
}  // namespace zuvo::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s WINE ZuvoBox zuvo_wine_serial_logger.exe\n", argv[0]);
        return 2;
    }
    zuvo::test::g_wine = argv[1];
    zuvo::test::g_zuvoBox = argv[2];
    zuvo::test::g_logger = argv[3];
    zuvo::test::g_run = (std::filesystem::path(argv[2]).parent_path() / "zuvobox-run").string();
    for (const std::string& program : {zuvo::test::g_zuvoBox, zuvo::test::g_run}) {
        if (!std::filesystem::exists(program)) {
            std::printf("%s is not built: build the debug preset first\n", program.c_str());
            return 77;
        }
    }
    return RUN_ALL_TESTS();
}
