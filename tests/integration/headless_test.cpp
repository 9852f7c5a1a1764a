// The headless interface program against the simulated box, as separate processes.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "integration/child_process.h"
#include "integration/pty_client.h"
#include "link/box_protocol.h"

namespace zuvo::test {
namespace {

class HeadlessTest : public ::testing::Test {
  protected:
    // extraEnv entries override the private environment's.
    std::unique_ptr<ChildProcess> Start(const std::string& name,
                                        std::vector<std::string> extra = {},
                                        std::vector<std::string> extraEnv = {}) {
        std::vector<std::string> args = {"--headless", "--simulate", "--sim-transcript",
                                         dir / (name + ".transcript")};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<std::string> env = PrivateEnv(dir);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        return std::make_unique<ChildProcess>(ZuvoBoxPath(), args, env, dir / (name + ".out"),
                                              dir / (name + ".err"));
    }
    // Host reports of a transcript as {code, value}.
    std::vector<std::pair<int, int>> HostReports(const std::string& name) const {
        std::vector<std::pair<int, int>> reports;
        for (const auto& line : ReadLines(dir / (name + ".transcript"))) {
            long ms = 0;
            unsigned code = 0, value = 0;
            char who[8] = {};
            if (std::sscanf(line.c_str(), "%ld %7s 0x%x 0x%x", &ms, who, &code, &value) == 4 &&
                std::string(who) == "host") {
                reports.emplace_back(static_cast<int>(code), static_cast<int>(value));
            }
        }
        return reports;
    }

    TempFolder dir;
};

TEST_F(HeadlessTest, ConnectsQueriesEverythingAndHandsTheSpeedBackToThePotOnSigterm) {
    auto zuvo = Start("a");
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    zuvo->Signal(SIGTERM);
    EXPECT_EQ(zuvo->Wait(), 0);

    const auto reports = HostReports("a");
    ASSERT_GE(reports.size(), box::kInterfaceConnectQuery.size() + 1);
    for (size_t i = 0; i < box::kInterfaceConnectQuery.size(); ++i) {
        EXPECT_EQ(reports[i], std::make_pair(0, int{box::kInterfaceConnectQuery[i]}))
            << "query " << i;
    }
    EXPECT_EQ(reports.back(), std::make_pair(0x16, 0x08));  // Keyer Control 8 is the last
    // The settings folder is created on first run.
    EXPECT_TRUE(std::filesystem::is_directory(dir / "config/Zuvo Box"));
}

TEST_F(HeadlessTest, ClosingItsTerminalClosesItLikeSigterm) {
    std::filesystem::create_directories(dir / "config/Zuvo Box");
    std::ofstream(dir / "config/Zuvo Box/ZuvoBox.ini") << "[Zuvo]\nAuto=TRUE\n";
    auto zuvo = Start("hup");
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    ASSERT_TRUE(WaitForPath(dir / "zuvobox/OTRSP_DEVICE"));
    zuvo->Signal(SIGHUP);
    EXPECT_EQ(zuvo->Wait(), 0);
    EXPECT_EQ(HostReports("hup").back(), std::make_pair(0x16, 0x08));  // Keyer Control 8
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "zuvobox/OTRSP_DEVICE"));
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "zuvobox/WINKEY_DEVICE"));
}

TEST_F(HeadlessTest, LinksAKilledRunLeftAreGoneAtTheNextStartEvenWithoutPipes) {
    std::filesystem::create_directories(dir / "config/Zuvo Box");
    const std::string ini = dir / "config/Zuvo Box/ZuvoBox.ini";
    std::ofstream(ini) << "[Zuvo]\nAuto=TRUE\n";
    {
        auto killed = Start("killed");
        ASSERT_TRUE(killed->WaitForLine("Connected to Zuvo Box version 1.0-0"));
        ASSERT_TRUE(WaitForPath(dir / "zuvobox/WINKEY_DEVICE"));
        killed->Signal(SIGKILL);
        ASSERT_EQ(killed->Wait(), -2);
    }
    ASSERT_TRUE(std::filesystem::is_symlink(dir / "zuvobox/OTRSP_DEVICE"));
    ASSERT_TRUE(std::filesystem::is_symlink(dir / "zuvobox/WINKEY_DEVICE"));
    ASSERT_TRUE(std::filesystem::is_socket(dir / "zuvobox/OTRSP_DEVICE.lines"));

    std::ofstream(ini) << "[Zuvo]\nAuto=FALSE\n";  // COM ports, none chosen
    auto next = Start("next");
    ASSERT_TRUE(next->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "zuvobox/OTRSP_DEVICE"));
    EXPECT_FALSE(std::filesystem::is_symlink(dir / "zuvobox/WINKEY_DEVICE"));
    EXPECT_FALSE(std::filesystem::exists(dir / "zuvobox/OTRSP_DEVICE.lines"));
    next->Signal(SIGTERM);
    EXPECT_EQ(next->Wait(), 0);
}

TEST_F(HeadlessTest, OutputNobodyReadsAnyMoreDoesNotEndIt) {
    // As `ZuvoBox --headless | grep ...` once grep has ended.
    const std::string fifo = dir / "out.fifo";
    const std::string control = dir / "sim-control";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ChildProcess zuvo(ZuvoBoxPath(), {"--headless", "--simulate", "--sim-control", control},
                      PrivateEnv(dir), fifo, dir / "err");
    std::string out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (out.find("Connected to Zuvo Box") == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        char buf[256];
        const ssize_t n = read(reader, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, static_cast<size_t>(n));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ASSERT_NE(out.find("Connected to Zuvo Box"), std::string::npos) << out;
    close(reader);
    { std::ofstream(control) << "unplug\n"; }  // a line for nobody
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    zuvo.Signal(SIGTERM);
    EXPECT_EQ(zuvo.Wait(), 0);
}

TEST_F(HeadlessTest, SecondInstanceIsRefusedWithoutTouchingTheBoxWhateverItsRuntimeFolder) {
    auto first = Start("first");
    ASSERT_TRUE(first->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    // As sudo may start it: same user, another runtime folder.
    std::filesystem::create_directories(dir / "other");
    auto second = Start("second", {}, {"XDG_RUNTIME_DIR=" + dir / "other"});
    EXPECT_NE(second->Wait(), 0);
    EXPECT_EQ(ReadFile(dir / "second.err"),
              "The Zuvo Box utility program or the Zuvo\nBox interface program is already "
              "running.\nOnly one instance can run at a time.\n");
    EXPECT_TRUE(HostReports("second").empty());
    first->Signal(SIGINT);
    EXPECT_EQ(first->Wait(), 0);
}

TEST_F(HeadlessTest, LogFileMirrorsTheLogWhenSwitchedOn) {
    std::filesystem::create_directories(dir / "config/Zuvo Box");
    {
        std::ofstream ini(dir / "config/Zuvo Box/ZuvoBox.ini");
        ini << "[Box]\nLogToFile=TRUE\n";
    }
    auto zuvo = Start("log");
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    zuvo->Signal(SIGTERM);
    ASSERT_EQ(zuvo->Wait(), 0);
    EXPECT_EQ(ReadLines(dir / "config/Zuvo Box/ZuvoBox.txt"), zuvo->Output());
}

}  // namespace
}  // namespace zuvo::test

namespace zuvo::test {
namespace {

TEST_F(HeadlessTest, UnplugAndReplugDisconnectOnceAndReconnect) {
    const std::string fifo = dir / "sim-control";
    auto zuvo = Start("plug", {"--sim-control", fifo});
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    for (int i = 0; i < 3; ++i) {
        { std::ofstream(fifo) << "unplug\n"; }
        ASSERT_TRUE(zuvo->WaitForLine("Zuvo Box has been disconnected", i + 1));
        { std::ofstream(fifo) << "replug\n"; }
        ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0", i + 2));
    }
    zuvo->Signal(SIGTERM);
    EXPECT_EQ(zuvo->Wait(), 0);
    const auto out = zuvo->Output();
    EXPECT_EQ(std::count(out.begin(), out.end(), "Zuvo Box has been disconnected"), 3);
    EXPECT_EQ(std::count(out.begin(), out.end(), "Read Thread: "), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), "Connected to Zuvo Box version 1.0-0"), 4);
    // Each connection sent the whole connect query again.
    const auto reports = HostReports("plug");
    EXPECT_EQ(std::count(reports.begin(), reports.end(), std::make_pair(0, 0x10)), 4);
}

}  // namespace
}  // namespace zuvo::test
