// The whole update against the simulated box and its boot loader, through the real read
// thread and message queue.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include "sim/sim_bootloader.h"
#include "sim/sim_hid.h"
#include "utility/hex_builder.h"
#include "utility/utility_fixture.h"
#include "utility/utility_runner.h"

namespace zuvo {
namespace {

using Stage = FirmwareUpdater::Stage;

class UtilityUpdateSimTest : public ::testing::Test {
  protected:
    UtilityUpdateSimTest() {
        sim_.WithBox([this](sim::SimBox& box) { component_ = &sim::InstallBootLoader(box); });
        firmware_ = test::FirmwareBytes(0x5FC0, 0x23, 4, 0);  // 0x2000-0x7FBF
        // One file per test: CTest runs the tests of this suite side by side.
        path_ = testing::TempDir() + "utility_update_sim_" +
                testing::UnitTest::GetInstance()->current_test_info()->name() + ".hex";
        std::ofstream(path_, std::ios::binary)
            << test::HexData(0x2000, firmware_) << test::EndRecord();
        dialogs_.file = path_;
    }

    bool FlashHoldsFirmware() {
        bool same = true;
        sim_.WithBox([&](sim::SimBox&) {
            const auto& flash = component_->Loader().Flash();
            same = std::equal(firmware_.begin(), firmware_.end(), flash.begin() + 0x2000);
        });
        return same;
    }

    sim::SimHidSystem sim_;
    sim::SimBootLoaderComponent* component_ = nullptr;
    platform::MessageQueue queue_;
    test::ScriptedDialogs dialogs_;
    UtilityDlg dlg_{sim_, queue_, dialogs_};
    std::vector<std::string> errors_;
    UtilityRunner runner_{dlg_, queue_, sim_,
                          [this](const std::string& e) { errors_.push_back(e); },
                          std::chrono::seconds(10)};
    std::vector<uint8_t> firmware_;
    std::string path_;
};

TEST_F(UtilityUpdateSimTest, UpdatesEndToEndAndReportsTheNewVersion) {
    ASSERT_EQ(runner_.Update(path_), UtilityRunner::kOk) << testing::PrintToString(errors_);
    const auto& lines = dlg_.Log().Lines();
    auto has = [&](const std::string& l) { return dlg_.Log().Contains(l); };
    EXPECT_TRUE(has("Zuvo Box version 1.0-0")) << testing::PrintToString(lines);
    EXPECT_TRUE(has("Zuvo Box is in firmware update mode"));
    EXPECT_TRUE(has("Verify succeeded"));
    EXPECT_TRUE(has("Restarting Zuvo Box"));
    EXPECT_EQ(lines[lines.size() - 2], "Zuvo Box version 2.3-4");
    EXPECT_TRUE(FlashHoldsFirmware());
    int erases = 0;
    sim_.WithBox([&](sim::SimBox&) { erases = component_->Loader().Erases(); });
    EXPECT_EQ(erases, 2);  // 384 blocks: 255 + 129
}

TEST_F(UtilityUpdateSimTest, CorruptedReadBackFailsThenASecondRunSucceeds) {
    sim_.WithBox([&](sim::SimBox&) { component_->Loader().CorruptNextReadAt(0x4321, 0x10); });
    ASSERT_EQ(runner_.Update(path_), UtilityRunner::kVerifyFailed);
    EXPECT_TRUE(dlg_.Log().Contains("Verify failed"));
    char expected[80];
    std::snprintf(expected, sizeof expected,
                  "Bad Value:  Addr 0x4321  Found 0x%.2x  Expected 0x%.2x",
                  firmware_[0x2321] ^ 0x10, firmware_[0x2321]);
    EXPECT_TRUE(dlg_.Log().Contains(expected));
    EXPECT_TRUE(dlg_.Link().UpdateMode());
    dlg_.OnControlChanged(utility::kConnect);  // disconnect; the runner connects again
    ASSERT_EQ(runner_.Update(path_), UtilityRunner::kOk) << testing::PrintToString(errors_);
}

TEST_F(UtilityUpdateSimTest, UnpluggedDuringEachStageKeepsFlashForASecondAttempt) {
    // Reports: 2 erases, 766 writes, then reads. Unplug during erase, upload and verify.
    for (int after : {1, 300, 800}) {
        SCOPED_TRACE(after);
        sim_.WithBox([&](sim::SimBox&) { component_->UnplugAfterReports(after); });
        const int code = runner_.Update(path_);
        EXPECT_EQ(code, UtilityRunner::kBoxLost) << testing::PrintToString(errors_);
        EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
        EXPECT_FALSE(dlg_.Link().UpdateMode());
        sim_.WithBox([&](sim::SimBox&) { component_->UnplugAfterReports(0); });
        sim_.Replug();
    }
    ASSERT_EQ(runner_.Update(path_), UtilityRunner::kOk)
        << testing::PrintToString(errors_) << testing::PrintToString(dlg_.Log().Lines());
    EXPECT_TRUE(FlashHoldsFirmware());
}

TEST_F(UtilityUpdateSimTest, ACloseCommandSaysInterruptedAndWhereTheBoxWasLeft) {
    // Ctrl-C arrives before the file check ends: the box is never touched.
    queue_.Post({platform::kMsgClose, 0, 0, {}, 0});
    EXPECT_EQ(runner_.Update(path_), UtilityRunner::kInterrupted);
    EXPECT_FALSE(dlg_.Log().Contains("Connected"));
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find("nothing was sent"), std::string::npos) << errors_[0];

    // Ctrl-C while the boot loader verifies (a runner takes one close command in its life).
    UtilityRunner runner(dlg_, queue_, sim_,
                         [this](const std::string& e) { errors_.push_back(e); });
    dlg_.SetLineObserver([this](const std::string& line) {
        if (line == "Verifying firmware") {
            queue_.Post({platform::kMsgClose, 0, 0, {}, 0});
        }
    });
    errors_.clear();
    EXPECT_EQ(runner.Update(path_), UtilityRunner::kInterrupted);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_EQ(errors_[0],
              "interrupted while waiting for the boot loader to answer; the box stays in its "
              "boot loader until it is updated");
    EXPECT_TRUE(dlg_.Link().UpdateMode());
}

TEST_F(UtilityUpdateSimTest, ShowReadsEverySetting) {
    std::vector<std::string> out;
    ASSERT_EQ(runner_.Show([&](const std::string& l) { out.push_back(l); }), UtilityRunner::kOk);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out[0], "Firmware Version 1.0-0");
    EXPECT_NE(std::find(out.begin(), out.end(), "Speed: 20"), out.end());
}

TEST_F(UtilityUpdateSimTest, BadFileTouchesNothing) {
    std::ofstream(path_, std::ios::binary) << test::HexData(0x1000, {1}) << test::EndRecord();
    EXPECT_EQ(runner_.Update(path_), UtilityRunner::kBadFile);
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
    EXPECT_TRUE(dlg_.Log().Contains("Firmware would overwrite bootloader - update cancelled"));
}

// Device notices that reach the program late, as from a busy udev monitor: each one a fixed
// time after the change, in order.
class LateNotices final : public platform::IHidSystem, public platform::IMessagePoster {
  public:
    explicit LateNotices(std::chrono::milliseconds delay) : delay_(delay) {
        thread_ = std::thread([this] { Run(); });
    }
    ~LateNotices() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        ready_.notify_all();
        thread_.join();
    }

    sim::SimHidSystem& Sim() { return sim_; }

    std::vector<std::string> EnumerateInterfaces() override { return sim_.EnumerateInterfaces(); }
    std::unique_ptr<platform::IHidHandle> Open(const std::string& path,
                                               platform::HidAccess access) override {
        return sim_.Open(path, access);
    }
    bool RegisterDeviceNotifications(platform::IMessagePoster& poster) override {
        {
            std::lock_guard lock(mutex_);
            target_ = &poster;
        }
        return sim_.RegisterDeviceNotifications(*this);
    }
    void Post(platform::Message message) override {
        {
            std::lock_guard lock(mutex_);
            pending_.push_back({std::chrono::steady_clock::now() + delay_, std::move(message)});
        }
        ready_.notify_all();
    }

  private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        platform::Message message;
    };

    void Run() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            if (pending_.empty()) {
                ready_.wait(lock);
            } else if (ready_.wait_until(lock, pending_.front().due) == std::cv_status::timeout) {
                target_->Post(std::move(pending_.front().message));
                pending_.pop_front();
            }
        }
    }

    const std::chrono::milliseconds delay_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Pending> pending_;
    platform::IMessagePoster* target_ = nullptr;
    bool stop_ = false;
    std::thread thread_;
    sim::SimHidSystem sim_;  // last in, first out: it stops posting before the rest goes
};

TEST(UtilityUpdateWithLateNotices, ALateRemovalOfTheLastDeviceOnThePathEndsNoNewConnection) {
    // Longer than the box stays off USB when it restarts: each removal notice arrives after
    // the next device already shows on the same path, and while the boot loader still
    // answers the verify reads (16 of them, 40 ms each).
    platform::MessageQueue queue;
    LateNotices hid(std::chrono::milliseconds(600));
    hid.Sim().WithBox([](sim::SimBox& box) {
        sim::InstallBootLoader(box);
        box.SetReplyDelayMs(40);
    });
    const std::string path = testing::TempDir() + "utility_update_late_notices.hex";
    std::ofstream(path, std::ios::binary)
        << test::HexData(0x2000, test::FirmwareBytes(0x200, 0x31, 7, 2)) << test::EndRecord();
    test::ScriptedDialogs dialogs;
    dialogs.file = path;
    UtilityDlg dlg(hid, queue, dialogs);
    std::vector<std::string> errors;
    UtilityRunner runner(
        dlg, queue, hid, [&](const std::string& e) { errors.push_back(e); },
        std::chrono::seconds(10));
    EXPECT_EQ(runner.Update(path), UtilityRunner::kOk)
        << testing::PrintToString(errors) << testing::PrintToString(dlg.Log().Lines());
    EXPECT_TRUE(dlg.Log().Contains("Zuvo Box version 3.1-7(2)"));
}
}  // namespace
}  // namespace zuvo

TEST(SimBootLoader, FlashBehavesLikeFlash) {
    zuvo::sim::VirtualClock clock;
    zuvo::sim::SimBootLoader loader(clock);
    auto request = [&](uint8_t cmd, uint8_t len, uint16_t addr, uint8_t fill = 0) {
        zuvo::sim::SimBootLoader::Report r{};
        r[1] = cmd;
        r[2] = len;
        r[3] = addr & 0xFF;
        r[4] = addr >> 8;
        std::fill(r.begin() + 6, r.begin() + 38, fill);
        loader.ReceiveReport(r.data(), r.size());
    };
    request(3, 1, 0x1FC0);  // boot loader area: never erased
    request(2, 32, 0x1FC0, 0x00);
    EXPECT_NE(loader.Flash()[0x1FC0], 0xFF);
    EXPECT_NE(loader.Flash()[0x1FC0], 0x00);
    request(2, 32, 0x2000, 0xF0);
    request(2, 32, 0x2000, 0x0F);  // not erased in between: bits only go from 1 to 0
    EXPECT_EQ(loader.Flash()[0x2000], 0x00);
    request(3, 1, 0x2000);
    EXPECT_EQ(loader.Flash()[0x203F], 0xFF);
    request(1, 32, 0x7FF0);  // past the flash: reads 0xFF, no crash
    zuvo::sim::SimBootLoader::Report answer;
    ASSERT_TRUE(loader.PopReady(answer));
    EXPECT_EQ(answer[1], 1);
    EXPECT_EQ(answer[6 + 31], 0xFF);
    request(16, 0, 0);
    ASSERT_TRUE(loader.PopReady(answer));
    EXPECT_EQ(answer[1], 16);
    EXPECT_EQ(answer[6], 1);
    request(0xFF, 0, 0);
    EXPECT_TRUE(loader.TakeRestartRequest());
}
