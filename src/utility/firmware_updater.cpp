#include "utility/firmware_updater.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "link/box_protocol.h"
#include "utility/utility_ids.h"

namespace zuvo {

FirmwareUpdater::FirmwareUpdater(IUtilitySender& sender, IEventLog& log, const WindowModel& model,
                                 IUtilityLinkEvents& window, IDialogHost& dialogs, Sleeper sleep)
    : sender_(sender),
      log_(log),
      model_(model),
      window_(window),
      dialogs_(dialogs),
      sleep_(std::move(sleep)) {
    if (!sleep_) {
        sleep_ = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    }
}

bool FirmwareUpdater::Verbose() const {
    return model_.Checked(utility::kVerbose);
}

IUtilitySender::BootReport FirmwareUpdater::Request(uint8_t command, uint8_t length,
                                                    uint32_t address) {
    IUtilitySender::BootReport r{};
    r[1] = command;
    r[2] = length;
    r[3] = static_cast<uint8_t>(address & 0xFF);
    r[4] = static_cast<uint8_t>(address >> 8 & 0xFF);
    return r;
}

void FirmwareUpdater::OnUpdateButton() {
    if (!sender_.IsConnectedFlag() || !sender_.UpdateMode()) {
        // Normal firmware (or no box: the link's connect-first refusal).
        if (!sender_.SendBoxCommand(box::kUpdateMode, box::kUpdateModeValue)) {
            return;
        }
        log_.LogMessage("Resetting Zuvo Box into update mode");
        sleep_(100);
        Refresh();
        log_.LogMessage("Connect to update firmware");
        Refresh();
        sender_.DisconnectBox();
        return;
    }
    const auto path = dialogs_.OpenFile("Intel hex files (.hex)|*.HEX||");
    if (!path) {
        return;
    }
    log_.LogMessage("Reading firmware file");
    Refresh();
    if (!ReadHexFile(*path)) {
        return;
    }
    log_.LogMessage("Erasing flash memory");
    Refresh();
    if (!EraseFlash()) {
        return;
    }
    log_.LogMessage("Uploading firmware");
    Refresh();
    if (!UploadFirmware()) {
        return;
    }
    log_.LogMessage("Verifying firmware");
    Refresh();
    StartVerify();
}

bool FirmwareUpdater::ReadHexFile(const std::string& path) {
    if (checked_ && checkedPath_ == path) {
        HexImage image = std::move(*checked_);
        checked_.reset();
        return LoadImage(std::move(image));
    }
    checked_.reset();
    return LoadImage(zuvo::ReadHexFile(path, Verbose()));
}

void FirmwareUpdater::UseCheckedFile(std::string path, HexImage image) {
    checkedPath_ = std::move(path);
    checked_ = std::move(image);
}

bool FirmwareUpdater::LoadImage(HexImage image) {
    stage_ = Stage::kReading;
    done_ = total_ = 0;
    image_ = std::move(image);
    for (const std::string& line : image_.lines) {
        log_.LogMessage(line);
    }
    if (!image_.ok) {
        stage_ = Stage::kFailed;
    }
    return image_.ok;
}

bool FirmwareUpdater::EraseFlash() {
    stage_ = Stage::kErasing;
    // Upload also writes the chunk that starts at the aligned highest address, so its block
    // is erased too: programming an unerased block would corrupt it.
    uint32_t remaining =
        image_.highest < image_.lowest ? 0 : (image_.highest - image_.lowest) / boot::kBlock + 1;
    total_ = remaining;
    done_ = 0;
    uint32_t address = image_.lowest;
    while (remaining > 0) {
        const uint32_t n = remaining < boot::kMaxEraseBlocks ? remaining : boot::kMaxEraseBlocks;
        if (!sender_.WriteBootReport(Request(boot::kErase, static_cast<uint8_t>(n), address))) {
            stage_ = Stage::kFailed;
            return false;
        }
        address += n * boot::kBlock;
        remaining -= n;
        done_ += n;
    }
    return true;
}

bool FirmwareUpdater::UploadFirmware() {
    stage_ = Stage::kUploading;
    total_ = image_.highest < image_.lowest ? 0 : (image_.highest - image_.lowest) / 32 + 1;
    done_ = 0;
    for (uint32_t address = image_.lowest; address <= image_.highest; address += boot::kChunk) {
        auto r = Request(boot::kWrite, boot::kChunk, address);
        for (size_t i = 0; i < boot::kChunk; ++i) {
            const uint32_t at = address + i;
            r[6 + i] = at < kImageSize ? image_.image[at] : 0;
        }
        if (!sender_.WriteBootReport(r)) {
            stage_ = Stage::kFailed;
            return false;
        }
        ++done_;
    }
    return true;
}

bool FirmwareUpdater::RequestRead(uint32_t address) {
    expectedRead_ = address;
    if (!sender_.WriteBootReport(Request(boot::kRead, boot::kChunk, address))) {
        log_.LogMessage("Verify failed");
        stage_ = Stage::kFailed;
        return false;
    }
    return true;
}

void FirmwareUpdater::StartVerify() {
    stage_ = Stage::kVerifying;
    total_ = image_.highest < image_.lowest ? 0 : (image_.highest - image_.lowest) / 32 + 1;
    done_ = 0;
    RequestRead(image_.lowest);
}

void FirmwareUpdater::OnBootReport(uint8_t command, uint8_t value,
                                   const IUtilitySender::BootReport& report) {
    // Only a request of ours is answered; anything else (a stray report after a failed
    // verify) has nothing to be compared with.
    if (stage_ != Stage::kVerifying && stage_ != Stage::kEnding) {
        return;
    }
    // Once the verify has succeeded only the end of programming's answer is awaited: a late
    // or repeated read answer must neither fail the verify nor keep the box from restarting.
    if (stage_ == Stage::kEnding && report[1] != boot::kEndOfProgramming) {
        return;
    }
    if (command == 0xFF && value == 0xFF) {
        log_.LogMessage("Verify failed");
        stage_ = Stage::kFailed;
        return;
    }
    if (stage_ == Stage::kEnding) {
        if (report[6] != 0) {
            IUtilitySender::BootReport restart{};
            restart[1] = boot::kRestart;
            sender_.WriteBootReport(restart);
            log_.LogMessage("Restarting Zuvo Box");
            stage_ = Stage::kRestarted;
            sender_.DisconnectBox();
        } else {
            stage_ = Stage::kJumper;
            dialogs_.ShowMessage("Programming complete.  Remove jumper");
        }
        return;
    }
    const uint32_t address = report[3] + 256u * report[4];
    // An answer for another address than the one asked for proves nothing about the chunk
    // in question; taking it would let a stray answer end the verify as a success.
    bool same = stage_ == Stage::kVerifying && address == expectedRead_;
    for (size_t i = 0; i < boot::kChunk && same; ++i) {
        const uint32_t at = address + i;
        same = report[6 + i] == (at < kImageSize ? image_.image[at] : 0);
    }
    if (!same) {
        log_.LogMessage("Verify failed");
        for (size_t i = 0; i < boot::kChunk; ++i) {
            const uint32_t at = address + i;
            const uint8_t expected = at < kImageSize ? image_.image[at] : 0;
            if (report[6 + i] != expected) {
                char line[96];
                std::snprintf(line, sizeof line,
                              "Bad Value:  Addr 0x%.4x  Found 0x%.2x  Expected 0x%.2x",
                              static_cast<unsigned>(at), report[6 + i], expected);
                log_.LogMessage(line);
            }
        }
        stage_ = Stage::kFailed;
        return;
    }
    ++done_;
    if (address + boot::kChunk <= image_.highest) {
        RequestRead(address + boot::kChunk);
        return;
    }
    log_.LogMessage("Verify succeeded");
    stage_ = Stage::kEnding;
    IUtilitySender::BootReport end{};
    end[1] = boot::kEndOfProgramming;
    if (!sender_.WriteBootReport(end)) {
        stage_ = Stage::kFailed;
    }
}

double FirmwareUpdater::StageProgress() const {
    if (total_ == 0) {
        return stage_ == Stage::kIdle ? 0.0 : 1.0;
    }
    return static_cast<double>(done_) / total_;
}

}  // namespace zuvo
