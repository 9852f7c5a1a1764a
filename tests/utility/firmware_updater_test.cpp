#include <gtest/gtest.h>

#include <fstream>

#include "platform/temp_dir.h"
#include "sim/sim_bootloader.h"
#include "utility/hex_builder.h"
#include "utility/utility_fixture.h"

namespace zuvo {
namespace {

using namespace utility;
using Lines = std::vector<std::string>;
using Stage = FirmwareUpdater::Stage;

class FirmwareUpdaterTest : public test::UtilityFixture {
  protected:
    FirmwareUpdaterTest() : loader_(clock_) {}

    std::string WriteHex(const std::string& text) {
        // One file per test: CTest runs the tests of this suite side by side.
        const std::string path = testing::TempDir() + "firmware_updater_" +
                                 testing::UnitTest::GetInstance()->current_test_info()->name() +
                                 ".hex";
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    // Boot-loader reports written since the last call.
    std::vector<std::vector<uint8_t>> Requests() {
        auto written = hid_.Written(kBox);
        hid_.ClearWritten(kBox);
        return written;
    }

    // Hands every written request to the simulated boot loader and its answers back to the
    // updater, until nothing more moves.
    void RunAgainstLoader() {
        for (;;) {
            auto requests = Requests();
            for (const auto& r : requests) {
                ASSERT_EQ(r.size(), 65u);
                loader_.ReceiveReport(r.data(), r.size());
            }
            sim::SimBootLoader::Report answer;
            bool any = false;
            while (loader_.PopReady(answer)) {
                any = true;
                dlg_.Updater().OnBootReport(answer[1], answer[2], answer);
            }
            if (requests.empty() && !any) {
                return;
            }
        }
    }

    void Update(const std::string& text) {
        dialogs_.file = WriteHex(text);
        dlg_.OnControlChanged(kUpdate);
    }

    sim::VirtualClock clock_;
    sim::SimBootLoader loader_;
};

TEST_F(FirmwareUpdaterTest, UpdateButtonOnNormalFirmwareRestartsIntoTheBootLoader) {
    Connect();
    dlg_.OnControlChanged(kUpdate);
    EXPECT_EQ(Sent(), (std::vector<std::pair<int, int>>{{8, 0x21}}));
    EXPECT_EQ(TakeLines(),
              (Lines{"Resetting Zuvo Box into update mode", "Connect to update firmware"}));
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
    dlg_.OnControlChanged(kUpdate);
    EXPECT_EQ(TakeLines(), Lines{"Connect to Zuvo Box first!"});
}

TEST_F(FirmwareUpdaterTest, SmallFileEndToEndAgainstTheSimulatedFlash) {
    Connect(box::kProductBootLoader);
    TakeLines();
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Update(test::HexData(0x2000, data) + test::EndRecord());
    EXPECT_EQ(dialogs_.lastFilter, "Intel hex files (.hex)|*.HEX||");
    auto requests = Requests();
    // Range 0x2000-0x2040: the erase covers both blocks that upload writes.
    ASSERT_EQ(requests.size(), 1u + 3u + 1u);
    EXPECT_EQ(requests[0][1], 3);
    EXPECT_EQ(requests[0][2], 2);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(requests[1 + i][1], 2);
        EXPECT_EQ(requests[1 + i][3] | requests[1 + i][4] << 8, 0x2000 + 32 * i);
    }
    EXPECT_EQ(requests[4][1], 1);
    for (const auto& r : requests) {
        loader_.ReceiveReport(r.data(), r.size());
    }
    // The erased flash must now hold the image exactly, padding included.
    RunAgainstLoader();
    EXPECT_EQ(dlg_.Updater().CurrentStage(), Stage::kRestarted);
    EXPECT_TRUE(loader_.TakeRestartRequest());
    EXPECT_EQ(loader_.Flash()[0x2009], 10);
    EXPECT_EQ(loader_.Flash()[0x2050], 0);
    EXPECT_EQ(TakeLines(),
              (Lines{"Reading firmware file", "Erasing flash memory", "Uploading firmware",
                     "Verifying firmware", "Verify succeeded", "Restarting Zuvo Box"}));
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
}

TEST_F(FirmwareUpdaterTest, EraseCoversTheHighestChunkEvenOverOldFirmware) {
    // Old firmware everywhere: without erasing the block at the aligned highest address the
    // chunk written there would read back corrupted.
    loader_.LoadFirmware(0x2000, std::vector<uint8_t>(0x6000, 0x00));
    Connect(box::kProductBootLoader);
    Update(test::HexData(0x7F80, std::vector<uint8_t>(65, 0xFF)) + test::EndRecord());
    RunAgainstLoader();
    EXPECT_EQ(dlg_.Updater().CurrentStage(), Stage::kRestarted);
    EXPECT_EQ(loader_.Flash()[0x7FC0], 0xFF);
    EXPECT_EQ(loader_.Flash()[0x7FC1], 0x00);
}

TEST_F(FirmwareUpdaterTest, EraseSplitsIntoRequestsOf255Blocks) {
    Connect(box::kProductBootLoader);
    // 0x2000-0x7F80 aligned: 383 blocks with the highest one.
    ASSERT_TRUE(dlg_.Updater().LoadImage(ReadHexText(
        test::HexData(0x2000, {1}) + test::HexData(0x7F80, {1}) + test::EndRecord(), false)));
    ASSERT_TRUE(dlg_.Updater().EraseFlash());
    auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0][2], 255);
    EXPECT_EQ(requests[0][3] | requests[0][4] << 8, 0x2000);
    EXPECT_EQ(requests[1][2], 128);
    EXPECT_EQ(requests[1][3] | requests[1][4] << 8, 0x2000 + 255 * 64);
    EXPECT_DOUBLE_EQ(dlg_.Updater().StageProgress(), 1.0);
}

TEST_F(FirmwareUpdaterTest, BadFilesSendNothing) {
    Connect(box::kProductBootLoader);
    TakeLines();
    Update(test::HexData(0x1000, {1, 2}) + test::EndRecord());
    EXPECT_EQ(TakeLines(), (Lines{"Reading firmware file",
                                  "Firmware would overwrite bootloader - update cancelled"}));
    Update(":0120000001DD\n");
    EXPECT_EQ(TakeLines(), (Lines{"Reading firmware file", "Incorrect checksum on line 1"}));
    EXPECT_TRUE(Requests().empty());
    dialogs_.file.reset();
    dlg_.OnControlChanged(kUpdate);
    EXPECT_TRUE(TakeLines().empty());
    EXPECT_TRUE(dlg_.Link().UpdateMode());
}

TEST_F(FirmwareUpdaterTest, UnreadableFileIsLoggedAndTheBootLoaderStaysReadyForAnother) {
    Connect(box::kProductBootLoader);
    const test::TempDir folder;
    for (const std::string& path : {folder.Path(), std::string("/proc/self/mem")}) {
        dialogs_.file = path;
        dlg_.OnControlChanged(kUpdate);
        const Lines lines = TakeLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "Reading firmware file");
        EXPECT_EQ(lines[1].rfind("Cannot ", 0), 0u) << lines[1];
        EXPECT_TRUE(Requests().empty());
        EXPECT_TRUE(dlg_.Link().UpdateMode());
    }
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    RunAgainstLoader();
    EXPECT_EQ(dlg_.Updater().CurrentStage(), Stage::kRestarted);
    EXPECT_TRUE(loader_.TakeRestartRequest());
}

TEST_F(FirmwareUpdaterTest, StrayReportWhileEndingStillRestartsTheBox) {
    Connect(box::kProductBootLoader);
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    // Answer every read; hold back the end of programming's answer.
    while (dlg_.Updater().CurrentStage() == Stage::kVerifying) {
        for (const auto& r : Requests()) {
            loader_.ReceiveReport(r.data(), r.size());
        }
        sim::SimBootLoader::Report answer;
        ASSERT_TRUE(loader_.PopReady(answer));
        dlg_.Updater().OnBootReport(answer[1], answer[2], answer);
    }
    ASSERT_EQ(dlg_.Updater().CurrentStage(), Stage::kEnding);
    // A repeated read answer and an empty read arrive before the real answer.
    auto stray = FirmwareUpdater::Request(1, 32, 0x2020);
    dlg_.Updater().OnBootReport(stray[1], stray[2], stray);
    FirmwareUpdater::Report nothing{};
    nothing[1] = nothing[2] = 0xFF;
    dlg_.Updater().OnBootReport(0xFF, 0xFF, nothing);
    RunAgainstLoader();
    EXPECT_EQ(dlg_.Updater().CurrentStage(), Stage::kRestarted);
    EXPECT_TRUE(loader_.TakeRestartRequest());
    const Lines lines = TakeLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Verify failed"), 0);
    EXPECT_EQ(lines.back(), "Restarting Zuvo Box");
}

TEST_F(FirmwareUpdaterTest, VerifyMismatchListsBadValues) {
    Connect(box::kProductBootLoader);
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    TakeLines();
    Requests();
    auto answer = FirmwareUpdater::Request(1, 32, 0x2000);
    std::fill(answer.begin() + 6, answer.begin() + 38, 0x11);
    answer[6 + 3] = 0x10;
    answer[6 + 4] = 0x00;
    answer[6 + 31] = 0xFF;
    dlg_.Updater().OnBootReport(answer[1], answer[2], answer);
    EXPECT_EQ(TakeLines(),
              (Lines{"Verify failed", "Bad Value:  Addr 0x2003  Found 0x10  Expected 0x11",
                     "Bad Value:  Addr 0x2004  Found 0x00  Expected 0x11",
                     "Bad Value:  Addr 0x201f  Found 0xff  Expected 0x11"}));
    EXPECT_TRUE(Requests().empty());
    EXPECT_TRUE(dlg_.Link().UpdateMode());
}

TEST_F(FirmwareUpdaterTest, CorruptedReadBackAndNothingRead) {
    Connect(box::kProductBootLoader);
    loader_.CorruptNextReadAt(0x2021, 0x80);
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    RunAgainstLoader();
    const Lines lines = TakeLines();
    EXPECT_EQ(lines[lines.size() - 2], "Verify failed");
    EXPECT_EQ(lines.back(), "Bad Value:  Addr 0x2021  Found 0x91  Expected 0x11");
    // A second attempt repeats every stage and succeeds.
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    RunAgainstLoader();
    EXPECT_EQ(dlg_.Updater().CurrentStage(), Stage::kRestarted);

    Connect(box::kProductBootLoader);
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    TakeLines();
    FirmwareUpdater::Report nothing{};
    nothing[1] = 0xFF;
    nothing[2] = 0xFF;
    dlg_.Updater().OnBootReport(0xFF, 0xFF, nothing);
    EXPECT_EQ(TakeLines(), Lines{"Verify failed"});
}

TEST_F(FirmwareUpdaterTest, AnswerForAnotherAddressFailsTheVerify) {
    Connect(box::kProductBootLoader);
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x00)) + test::EndRecord());
    TakeLines();
    Requests();
    // All zeros at 0xFFF0 would match the image there; the bytes past 0xFFFF are never read.
    auto answer = FirmwareUpdater::Request(1, 32, 0xFFF0);
    answer[6 + 20] = 0x42;
    dlg_.Updater().OnBootReport(answer[1], answer[2], answer);
    EXPECT_EQ(TakeLines(),
              (Lines{"Verify failed", "Bad Value:  Addr 0x10004  Found 0x42  Expected 0x00"}));
    EXPECT_EQ(dlg_.Updater().CurrentStage(), Stage::kFailed);
    EXPECT_TRUE(Requests().empty());
}

TEST_F(FirmwareUpdaterTest, JumperMessageKeepsUpdateMode) {
    loader_.SetRestartFlag(false);
    Connect(box::kProductBootLoader);
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    RunAgainstLoader();
    EXPECT_EQ(dlg_.Updater().CurrentStage(), Stage::kJumper);
    EXPECT_EQ(dialogs_.shown.back(), "Programming complete.  Remove jumper");
    EXPECT_TRUE(dlg_.Link().UpdateMode());
    EXPECT_FALSE(loader_.TakeRestartRequest());
}

TEST_F(FirmwareUpdaterTest, WriteFailureDuringUploadDisconnects) {
    Connect(box::kProductBootLoader);
    hid_.DeviceAt(kBox).writeError = platform::kErrorDeviceNotConnected;
    Update(test::HexData(0x2000, std::vector<uint8_t>(64, 0x11)) + test::EndRecord());
    const Lines lines = TakeLines();
    EXPECT_EQ(lines.back(), "Can't write to device");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Uploading firmware"), 0);
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
    EXPECT_FALSE(dlg_.Link().UpdateMode());
}

}  // namespace
}  // namespace zuvo
