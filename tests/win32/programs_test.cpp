// The Windows programs as separate processes under Wine, against the simulated box: the
// headless interface program with loggers on its named pipes, the single-instance mutex,
// an RTTY program through the file mapping and the registered message, and the utility's
// firmware update.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "link/box_protocol.h"
#include "utility/hex_builder.h"
#include "win32/win32_process.h"

namespace zuvo::test {
namespace {

constexpr char kConnected[] = "Connected to Zuvo Box version 1.0-0";

// A logger's end of one of the interface program's pipes.
class PipeClient {
  public:
    // Waits (up to 10 s) for the pipe to exist and, as loggers do, for a busy pipe to be
    // free again (unless told not to); `error` is what opening it gave at the end.
    explicit PipeClient(const std::string& path, bool waitWhileBusy = true) {
        const auto end = Clock::now() + std::chrono::seconds(10);
        do {
            handle_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
            error_ = handle_ == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
            if (error_ == ERROR_PIPE_BUSY && waitWhileBusy) {
                ::WaitNamedPipeA(path.c_str(), 1000);
            } else if (error_ != ERROR_FILE_NOT_FOUND) {
                break;
            } else {
                ::Sleep(20);
            }
        } while (Clock::now() < end);
    }
    ~PipeClient() { Close(); }
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;

    bool Ok() const { return handle_ != INVALID_HANDLE_VALUE; }
    DWORD Error() const { return error_; }
    void Close() {
        if (Ok()) {
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
    }

    void Send(const std::string& bytes) {
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                nullptr));
        ASSERT_EQ(written, bytes.size());
    }

    // Everything received until done(received) holds or the time is up.
    template <typename Done>
    std::string ReadUntil(Done done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto end = Clock::now() + timeout;
        while (!done(received_) && Clock::now() < end) {
            DWORD available = 0;
            if (!::PeekNamedPipe(handle_, nullptr, 0, nullptr, &available, nullptr)) {
                break;
            }
            if (available == 0) {
                ::Sleep(5);
                continue;
            }
            std::string chunk(available, '\0');
            DWORD got = 0;
            if (::ReadFile(handle_, chunk.data(), available, &got, nullptr)) {
                received_.append(chunk, 0, got);
            }
        }
        return received_;
    }
    // Received text up to and including `end` (taken out), or all of it when `end` never came.
    std::string ReadLine(const std::string& end = "\r") {
        ReadUntil([&](const std::string& got) { return got.find(end) != std::string::npos; });
        const size_t at = received_.find(end);
        const size_t n = at == std::string::npos ? received_.size() : at + end.size();
        std::string line = received_.substr(0, n);
        received_.erase(0, n);
        return line;
    }
    // Whatever arrives within `quiet`.
    std::string Drain(std::chrono::milliseconds quiet) {
        ReadUntil([](const std::string&) { return false; }, quiet);
        return std::exchange(received_, {});
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
    std::string received_;
};

class WindowsProgramsTest : public ::testing::Test {
  protected:
    // Named objects of this test only; the settings under its own folder.
    std::map<std::string, std::string> Env() const {
        return {{"ZUVOBOX_OBJECT_SUFFIX", suffix}, {"ALLUSERSPROFILE", dir.Path()}};
    }
    std::unique_ptr<Process> Run(const std::string& program, const std::string& name,
                                 const std::vector<std::string>& args) {
        auto process = std::make_unique<Process>(ProgramPath(program), args, Env(),
                                                 dir / (name + ".out"), dir / (name + ".err"));
        EXPECT_TRUE(process->Started()) << program << ": error " << process->StartError();
        return process;
    }
    std::unique_ptr<Process> StartZuvoBox(const std::string& name = "zuvo") {
        return Run("ZuvoBox.exe", name,
                   {"--headless", "--simulate", "--sim-transcript", Transcript(name)});
    }
    std::string Transcript(const std::string& name) const { return dir / (name + ".transcript"); }
    std::string Pipe(const std::string& name) const { return "\\\\.\\PIPE\\" + name + suffix; }

    void WriteSettings(const std::string& text) {
        std::filesystem::create_directories(dir / "Zuvo Box");
        std::ofstream(dir / "Zuvo Box\\ZuvoBox.ini") << text;
    }

    bool CloseZuvoBox() { return zuvo::test::CloseZuvoBox(suffix); }

    struct Report {
        std::string who;  // "host", "box", "keyed", ...
        int code = -1;
        int value = -1;
        bool operator==(const Report&) const = default;
    };
    std::vector<Report> ReadTranscript(const std::string& name) const {
        std::vector<Report> reports;
        for (const auto& line : ReadLines(Transcript(name))) {
            long ms = 0;
            char who[16] = {};
            unsigned code = 0, value = 0;
            const int n = std::sscanf(line.c_str(), "%ld %15s 0x%x 0x%x", &ms, who, &code, &value);
            if (n >= 3) {
                reports.push_back(
                    {who, static_cast<int>(code), n == 4 ? static_cast<int>(value) : -1});
            }
        }
        return reports;
    }
    std::vector<Report> HostReports(const std::string& name) const {
        auto all = ReadTranscript(name);
        std::erase_if(all, [](const Report& r) { return r.who != "host"; });
        return all;
    }

    TempFolder dir;
    std::string suffix = UniqueSuffix();
};

TEST_F(WindowsProgramsTest, ConnectQueryAndCloseAreThoseOfTheLinuxBuild) {
    auto zuvo = StartZuvoBox();
    ASSERT_TRUE(zuvo->WaitForLine(kConnected));
    ASSERT_TRUE(CloseZuvoBox());
    ASSERT_EQ(zuvo->Wait(), 0);

    const auto reports = HostReports("zuvo");
    ASSERT_GT(reports.size(), box::kInterfaceConnectQuery.size());
    for (size_t i = 0; i < box::kInterfaceConnectQuery.size(); ++i) {
        EXPECT_EQ(reports[i], (Report{"host", 0, box::kInterfaceConnectQuery[i]})) << "query " << i;
    }
    EXPECT_EQ(reports.back(), (Report{"host", 0x16, 0x08}));  // Keyer Control 8 is the last
    // The settings folder under ALLUSERSPROFILE is made on the first run.
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Zuvo Box"));
}

TEST_F(WindowsProgramsTest, LoggerOnTheKeyerPipeKeysCqTestAndHasThePipeToItself) {
    WriteSettings("[Zuvo]\r\nAuto=TRUE\r\n");
    auto zuvo = StartZuvoBox();
    ASSERT_TRUE(zuvo->WaitForLine(kConnected));
    {
        PipeClient logger(Pipe("WINKEY_DEVICE"));
        ASSERT_TRUE(logger.Ok()) << logger.Error();
        PipeClient second(Pipe("WINKEY_DEVICE"), false);
        EXPECT_EQ(second.Error(), static_cast<DWORD>(ERROR_PIPE_BUSY));

        logger.Send(std::string("\x00\x02", 2));  // admin: host open
        EXPECT_EQ(logger.ReadUntil([](const std::string& got) { return !got.empty(); }), "\x0A");
        logger.Drain(std::chrono::milliseconds(0));
        logger.Send(std::string("\x0E\x04"   // mode: echo on
                                "\x02\x3C",  // speed 60 WPM
                                4) +
                    "CQ TEST");
        const std::string got = logger.ReadUntil([](const std::string& g) {
            return std::count_if(g.begin(), g.end(), [](char c) { return (c & 0xC0) != 0xC0; }) >=
                       7 &&
                   static_cast<uint8_t>(g.back()) == 0xC0;
        });
        std::string echoes;
        std::copy_if(got.begin(), got.end(), std::back_inserter(echoes),
                     [](char c) { return (c & 0xC0) != 0xC0; });
        EXPECT_EQ(echoes, "CQ TEST");
    }
    ASSERT_TRUE(CloseZuvoBox());
    ASSERT_EQ(zuvo->Wait(), 0);
    std::string keyed;
    for (const auto& r : ReadTranscript("zuvo")) {
        if (r.who == "keyed") {
            keyed += static_cast<char>(r.code);
        }
    }
    EXPECT_EQ(keyed, "CQ TEST");
}

TEST_F(WindowsProgramsTest, SwitchingPipeServesEachNewLoggerWithNothingLeftFromTheLastOne) {
    WriteSettings("[Zuvo]\r\nAuto=TRUE\r\n");
    auto zuvo = StartZuvoBox();
    ASSERT_TRUE(zuvo->WaitForLine(kConnected));
    {
        PipeClient logger(Pipe("OTRSP_DEVICE"));
        ASSERT_TRUE(logger.Ok()) << logger.Error();
        // A query is answered once the box has answered the connect query, as loggers expect.
        logger.Send("?NAME\r");
        EXPECT_EQ(logger.ReadLine().rfind("NAME", 0), 0u);
        logger.Send("TX2\r?TX\r");
        EXPECT_EQ(logger.ReadLine(), "TX2\r");
        // Gone before the reply is read: the reply must not reach the next logger.
        logger.Send("?RX\r");
    }
    for (int i = 0; i < 20; ++i) {
        PipeClient logger(Pipe("OTRSP_DEVICE"));
        ASSERT_TRUE(logger.Ok()) << "cycle " << i << ": " << logger.Error();
        logger.Send("?TX\r");
        ASSERT_EQ(logger.ReadLine(), "TX2\r") << "cycle " << i;
        ASSERT_EQ(logger.Drain(std::chrono::milliseconds(i == 0 ? 300 : 0)), "") << "cycle " << i;
    }
    ASSERT_TRUE(CloseZuvoBox());
    ASSERT_EQ(zuvo->Wait(), 0);
    // A logger closing its end is no read error worth a line.
    const auto out = zuvo->Output();
    EXPECT_EQ(std::count(out.begin(), out.end(), "SE Read Thread: "), 0);
}

TEST_F(WindowsProgramsTest, EitherProgramIsRefusedWhileTheOtherRunsButNotAfterItCrashed) {
    const std::string refusal =
        "The Zuvo Box utility program or the Zuvo\r\nBox interface program is already "
        "running.\r\nOnly one instance can run at a time.\r\n";
    auto zuvo = StartZuvoBox();
    ASSERT_TRUE(zuvo->WaitForLine(kConnected));
    auto utility = Run("ZuvoBoxUtility.exe", "utility", {"--simulate", "--show"});
    EXPECT_EQ(utility->Wait(), 1);
    EXPECT_EQ(ReadFile(dir / "utility.err"), refusal);
    auto second = StartZuvoBox("second");
    EXPECT_EQ(second->Wait(), 1);
    EXPECT_EQ(ReadFile(dir / "second.err"), refusal);
    EXPECT_TRUE(HostReports("second").empty());

    // The system drops the mutex of a program that dies.
    zuvo->Kill();
    auto next = Run("ZuvoBoxUtility.exe", "next", {"--simulate", "--show"});
    EXPECT_EQ(next->Wait(), 0) << ReadFile(dir / "next.err");
}

TEST_F(WindowsProgramsTest, RttyProgramKeysCqThroughTheMappingAndTheRegisteredMessage) {
    auto rtty = [&](const std::string& name, const std::vector<std::string>& args) {
        auto process = Run("zuvobox-rtty.exe", name, args);
        return process->Wait(std::chrono::seconds(30));
    };
    EXPECT_EQ(rtty("absent", {"--counter"}), 2);  // no interface program yet

    auto zuvo = StartZuvoBox();
    ASSERT_TRUE(zuvo->WaitForLine(kConnected));
    ASSERT_EQ(rtty("cq", {"--station", "1", "--text", "CQ", "--counter"}), 0)
        << ReadFile(dir / "cq.err");
    EXPECT_EQ(ReadFile(dir / "cq.out"), "2\r\n");
    ASSERT_EQ(rtty("bad", {"--raw", "0x00410506"}), 0);  // a character for station 5
    EXPECT_TRUE(zuvo->WaitForLine("RE - bad station number 0x05"));
    // Station 3 is not on the air: its characters are only counted.
    ASSERT_EQ(rtty("other", {"--station", "3", "--no-ptt", "--text", "AB", "--counter"}), 0);
    EXPECT_EQ(ReadFile(dir / "other.out"), "2\r\n");

    ASSERT_TRUE(CloseZuvoBox());
    ASSERT_EQ(zuvo->Wait(), 0);
    std::string sent;
    for (const auto& r : HostReports("zuvo")) {
        if (r.code == 0x43) {  // RTTY Character
            sent += static_cast<char>(r.value);
        }
    }
    EXPECT_EQ(sent, "CQ");
}

TEST_F(WindowsProgramsTest, UtilityUpdatesTheSimulatedBoxFromTheCommandLine) {
    std::ofstream(dir / "firmware.hex")
        << HexData(0x2000, FirmwareBytes(0x1000, 0x31, 7, 2)) + EndRecord();
    auto utility =
        Run("ZuvoBoxUtility.exe", "update", {"--simulate", "--update", dir / "firmware.hex"});
    const int code = utility->Wait(std::chrono::seconds(60));
    const std::string log = ReadFile(dir / "update.out") + ReadFile(dir / "update.err");
    ASSERT_EQ(code, 0) << log;
    const auto out = utility->Output();
    EXPECT_NE(std::find(out.begin(), out.end(), "Verify succeeded"), out.end()) << log;
    EXPECT_EQ(out.back(), "Disconnected") << log;
    EXPECT_NE(std::find(out.begin(), out.end(), "Zuvo Box version 3.1-7(2)"), out.end()) << log;
}

}  // namespace
}  // namespace zuvo::test
