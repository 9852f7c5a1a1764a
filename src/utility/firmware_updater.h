#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/dialog_host.h"
#include "core/event_log.h"
#include "ui/window_model.h"
#include "utility/hex_reader.h"
#include "utility/utility_link.h"
#include "utility/utility_sender.h"

namespace zuvo {

// Boot-loader requests and answers (65-byte reports).
namespace boot {
inline constexpr uint8_t kRead = 1;
inline constexpr uint8_t kWrite = 2;
inline constexpr uint8_t kErase = 3;
inline constexpr uint8_t kEndOfProgramming = 16;
inline constexpr uint8_t kRestart = 0xFF;
inline constexpr size_t kChunk = 32;
inline constexpr uint32_t kBlock = 64;
inline constexpr uint32_t kMaxEraseBlocks = 255;
}  // namespace boot

// Firmware update through the box's boot loader: restart into update mode, read and check
// the HEX file, erase, upload, verify by read-back, end programming and restart. Reading,
// erasing and uploading run inside the button handler; verification follows the boot
// loader's answers. Main thread only.
class FirmwareUpdater {
  public:
    enum class Stage {
        kIdle,
        kReading,
        kErasing,
        kUploading,
        kVerifying,
        kEnding,     // end of programming sent, answer awaited
        kRestarted,  // restart sent: the update is complete
        kJumper,     // complete, the box waits for its jumper to be removed
        kFailed,
    };
    using Sleeper = std::function<void(int ms)>;

    FirmwareUpdater(IUtilitySender& sender, IEventLog& log, const WindowModel& model,
                    IUtilityLinkEvents& window, IDialogHost& dialogs, Sleeper sleep = {});

    void OnUpdateButton();
    // A report that arrived in update mode: its command and value bytes and the whole report.
    void OnBootReport(uint8_t command, uint8_t value, const IUtilitySender::BootReport& report);

    // The stages, callable on their own (tests, benchmarks).
    bool ReadHexFile(const std::string& path);
    // A file already read and checked (the command line checks it before the box restarts):
    // the next read of that path takes this image instead of reading the file again.
    void UseCheckedFile(std::string path, HexImage image);
    bool LoadImage(HexImage image);
    bool EraseFlash();
    bool UploadFirmware();
    void StartVerify();

    Stage CurrentStage() const { return stage_; }
    // Fraction 0..1 of the current stage (erase, upload or verify) done, for a progress bar.
    double StageProgress() const;
    uint32_t Lowest() const { return image_.lowest; }
    uint32_t Highest() const { return image_.highest; }
    const std::vector<uint8_t>& Image() const { return image_.image; }

    using Report = IUtilitySender::BootReport;
    static IUtilitySender::BootReport Request(uint8_t command, uint8_t length, uint32_t address);

  private:
    bool Verbose() const;
    void Refresh() { window_.RefreshControls(); }
    bool RequestRead(uint32_t address);

    IUtilitySender& sender_;
    IEventLog& log_;
    const WindowModel& model_;
    IUtilityLinkEvents& window_;
    IDialogHost& dialogs_;
    Sleeper sleep_;

    HexImage image_;
    std::optional<HexImage> checked_;
    std::string checkedPath_;
    Stage stage_ = Stage::kIdle;
    uint32_t expectedRead_ = 0;  // address of the read request in flight
    uint32_t done_ = 0;          // blocks erased, chunks written or chunks verified
    uint32_t total_ = 0;
};

}  // namespace zuvo
