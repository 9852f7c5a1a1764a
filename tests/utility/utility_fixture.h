#pragma once

// A utility window over an in-memory HID system, with scripted dialogs and a hand-set clock.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "link/box_protocol.h"
#include "platform/errors.h"
#include "platform/fake/fake_hid.h"
#include "platform/message_queue.h"
#include "utility/utility_dlg.h"

namespace zuvo::test {

class ScriptedDialogs : public IDialogHost {
  public:
    std::vector<std::string> shown;
    bool answerYes = true;
    std::optional<std::string> file;
    std::string lastFilter;

    void ShowError(const std::string& text) override { shown.push_back(text); }
    void ShowMessage(const std::string& text) override { shown.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        shown.push_back(text);
        return answerYes;
    }
    std::optional<std::string> OpenFile(const std::string& filter) override {
        lastFilter = filter;
        return file;
    }
};

class UtilityFixture : public ::testing::Test {
  protected:
    static constexpr const char* kBox = "/dev/hidraw-box";

    UtilityFixture() : dlg_(hid_, queue_, dialogs_, Options()) {}

    UtilityDlg::Options Options() {
        UtilityDlg::Options o;
        o.secondsClock = [this] { return seconds_; };
        o.sleep = [](int) {};
        return o;
    }

    void AddBox(uint16_t product = box::kProductApplication) {
        platform::fake::FakeHidSystem::Device d;
        d.attributes = {box::kVendorId, product, 0x0100};
        hid_.AddDevice(kBox, d);
    }

    void Connect(uint16_t product = box::kProductApplication) {
        AddBox(product);
        dlg_.OnControlChanged(utility::kConnect);
        ASSERT_TRUE(dlg_.Link().IsConnectedFlag());
        hid_.ClearWritten(kBox);
        TakeLines();
    }

    void Report(uint8_t code, uint8_t value) {
        dlg_.Dispatch({platform::kMsgBoxReport,
                       0,
                       box::ReportWord(code, value),
                       {},
                       dlg_.Link().Generation()});
    }

    // Box commands written since the last call, as (code, value) pairs.
    std::vector<std::pair<int, int>> Sent() {
        std::vector<std::pair<int, int>> out;
        for (const auto& r : hid_.Written(kBox)) {
            out.emplace_back(r[1], r[2]);
        }
        hid_.ClearWritten(kBox);
        return out;
    }

    std::vector<std::string> TakeLines() {
        std::vector<std::string> lines(dlg_.Log().Lines().begin() + linesSeen_,
                                       dlg_.Log().Lines().end());
        linesSeen_ = dlg_.Log().Lines().size();
        return lines;
    }

    void Select(int id, int index) {
        dlg_.Model().SetSelection(id, index);
        dlg_.OnControlChanged(id);
    }
    void Check(int id, bool on) {
        dlg_.Model().SetChecked(id, on);
        dlg_.OnControlChanged(id);
    }

    platform::fake::FakeHidSystem hid_;
    platform::MessageQueue queue_;
    ScriptedDialogs dialogs_;
    int64_t seconds_ = 1000;
    UtilityDlg dlg_;
    size_t linesSeen_ = 0;
};

}  // namespace zuvo::test
