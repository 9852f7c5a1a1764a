// The real programs, without --simulate, on the emulated kernel: ZuvoBox finds the box on
// the USB bus, keys a logger's text, loses it and finds it again; ZuvoBoxUtility updates its
// firmware through the boot loader's own USB device.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "integration/child_process.h"
#include "integration/keyer_client.h"
#include "link/box_protocol.h"
#include "sim/sim_bootloader.h"
#include "umockdev/hidraw_testbed.h"
#include "utility/hex_builder.h"

namespace zuvo::test {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// What the box keyed, from the simulator's transcript.
std::string Keyed(const std::string& transcript) {
    std::string text;
    std::istringstream in(transcript);
    for (std::string line; std::getline(in, line);) {
        long ms = 0;
        unsigned c = 0;
        if (std::sscanf(line.c_str(), "%ld keyed 0x%x", &ms, &c) == 2) {
            text += static_cast<char>(c);
        }
    }
    return text;
}

size_t Count(const Lines& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

// The lines of `wanted` appear in `lines` in this order, others between them.
bool InOrder(const Lines& lines, const Lines& wanted) {
    auto at = lines.begin();
    for (const std::string& w : wanted) {
        at = std::find(at, lines.end(), w);
        if (at == lines.end()) {
            return false;
        }
        ++at;
    }
    return true;
}

class ProgramsOnEmulatedKernel : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = HidrawTestbed::Unavailable();
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        bed = std::make_unique<HidrawTestbed>();
        std::filesystem::create_directories(dir / "config/Zuvo Box");
    }

    // Everything the programs here are given besides what they inherit (the preload library
    // and UMOCKDEV_DIR): their own runtime and settings folders, lock and RTTY block.
    std::vector<std::string> ProgramEnvironment() const { return PrivateEnv(dir); }
    std::unique_ptr<ChildProcess> Start(const std::string& program, const std::string& name,
                                        const std::vector<std::string>& args) {
        return std::make_unique<ChildProcess>(std::string(ZUVO_BIN_DIR) + "/" + program, args,
                                              ProgramEnvironment(), dir / (name + ".out"),
                                              dir / (name + ".err"));
    }

    TempFolder dir;
    std::unique_ptr<HidrawTestbed> bed;
};

TEST_F(ProgramsOnEmulatedKernel, ZuvoBoxKeysTextAndReconnectsWithTheConnectQueryOnReplug) {
    HidDevice receiver;  // another vendor's device ahead of the box on the bus
    receiver.port = "1-1";
    receiver.vendorId = 0x046D;
    receiver.productId = 0xC52B;
    receiver.manufacturer = "Logitech";
    receiver.product = "USB Receiver";
    bed->Plug(receiver);
    std::ofstream(dir / "config/Zuvo Box/ZuvoBox.ini")
        << "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n";
    auto zuvo = Start("ZuvoBox", "zuvo", {"--headless"});
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0", 1, 20s))
        << ReadFile(dir / "zuvo.out") << ReadFile(dir / "zuvo.err");

    const std::string link = dir / "zuvobox/WINKEY_DEVICE";
    for (int i = 0; i < 250 && !std::filesystem::exists(link); ++i) {
        std::this_thread::sleep_for(20ms);
    }
    KeyerClient logger(link);
    ASSERT_TRUE(logger.Ok()) << "cannot open " << link;
    logger.Write(std::vector<uint8_t>{0x00, 0x02});  // admin: host open
    EXPECT_EQ(logger.ReadUntil([](const auto& got) { return !got.empty(); }, 5s),
              (std::vector<uint8_t>{0x0A}));
    logger.Forget();
    logger.Write(std::vector<uint8_t>{0x0E, 0x04, 0x02, 60});  // echo on, 60 WPM
    logger.Write("CQ TEST");
    const auto got = logger.ReadUntil(
        [](const auto& g) { return Echoes(g).size() >= 7 && g.back() == 0xC0; }, 20s);
    EXPECT_EQ(Echoes(got), "CQ TEST");
    EXPECT_EQ(Keyed(bed->Transcript()), "CQ TEST");

    ASSERT_TRUE(bed->UnplugBox());
    ASSERT_TRUE(zuvo->WaitForLine("Zuvo Box has been disconnected"));
    const size_t before = bed->Received(bed->BoxNode()).size();
    ASSERT_TRUE(bed->ReplugBox());
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0", 2, 20s))
        << ReadFile(dir / "zuvo.out");
    const auto received = bed->Received(bed->BoxNode());
    ASSERT_GE(received.size(), before + box::kInterfaceConnectQuery.size());
    for (size_t i = 0; i < box::kInterfaceConnectQuery.size(); ++i) {
        EXPECT_EQ(received[before + i],
                  (std::vector<uint8_t>{box::kQuery, box::kInterfaceConnectQuery[i]}))
            << "query " << i;
    }
    EXPECT_TRUE(bed->Received("/dev/hidraw200").empty());

    zuvo->Signal(SIGTERM);
    EXPECT_EQ(zuvo->Wait(), 0);
    const Lines out = zuvo->Output();
    EXPECT_EQ(Count(out, "Zuvo Box has been disconnected"), 1u);
    EXPECT_EQ(Count(out, "Read Thread: "), 0u);
}

TEST_F(ProgramsOnEmulatedKernel, UtilityUpdatesTheFirmwareThroughTheBootLoadersOwnDevice) {
    bed->Sim().WithBox([](sim::SimBox& box) { sim::InstallBootLoader(box); });
    const std::string hex = dir / "firmware.hex";
    std::ofstream(hex) << HexData(0x2000, FirmwareBytes(0x200, 0x31, 7, 2)) << EndRecord();

    auto utility = Start("ZuvoBoxUtility", "update", {"--update", hex});
    ASSERT_EQ(utility->Wait(60s), 0)
        << ReadFile(dir / "update.out") << ReadFile(dir / "update.err");
    const Lines out = ReadLines(dir / "update.out");
    EXPECT_TRUE(InOrder(out,
                        {
                            "Connected",
                            "Zuvo Box version 1.0-0",
                            "Resetting Zuvo Box into update mode",
                            "Connect to update firmware",
                            "Connected",
                            "Zuvo Box is in firmware update mode",
                            "Erasing flash memory",
                            "Uploading firmware",
                            "Verifying firmware",
                            "Verify succeeded",
                            "Restarting Zuvo Box",
                            "Connected",
                            "Zuvo Box version 3.1-7(2)",
                        }))
        << ReadFile(dir / "update.out");
    // The udev monitor saw the boot loader come and go, and the box come back.
    EXPECT_EQ(Count(out, "Device attached."), 2u);
    EXPECT_EQ(Count(out, "Device removed."), 1u);
    EXPECT_EQ(bed->BoxPlugHistory(),
              (std::vector<uint16_t>{box::kProductApplication, box::kProductBootLoader,
                                     box::kProductApplication}));
}

}  // namespace
}  // namespace zuvo::test
