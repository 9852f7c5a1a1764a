#include "platform/posix/sim_control_fifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/temp_dir.h"

namespace zuvo::platform::posix {
namespace {

class Lines {
  public:
    void Add(const std::string& line) {
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        }
        changed_.notify_all();
    }
    std::vector<std::string> WaitFor(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return lines_.size() >= count; });
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

void WriteAndClose(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(fd);
}

TEST(SimControlFifo, DeliversLinesFromSuccessiveWriters) {
    test::TempDir dir;
    const std::string path = dir / "control";
    Lines lines;
    std::string error;
    {
        SimControlFifo fifo;
        ASSERT_TRUE(fifo.Start(
            path, [&](const std::string& l) { lines.Add(l); }, error))
            << error;
        struct stat st {};
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        WriteAndClose(path, "pot 25\nswi");
        WriteAndClose(path, "tches 0x0a\r\n" + std::string(2000, 'x') + "\npaddle\n");
        EXPECT_EQ(lines.WaitFor(3),
                  (std::vector<std::string>{"pot 25", "switches 0x0a", "paddle"}));
    }
    struct stat st {};
    EXPECT_NE(::lstat(path.c_str(), &st), 0);  // unlinked on destruction
}

TEST(SimControlFifo, ReplacesAStaleFifoButNothingElse) {
    test::TempDir dir;
    const std::string stale = dir / "stale";
    ASSERT_EQ(::mkfifo(stale.c_str(), 0644), 0);
    SimControlFifo fifo;
    std::string error;
    EXPECT_TRUE(fifo.Start(
        stale, [](const std::string&) {}, error))
        << error;
    fifo.Stop();

    const std::string file = dir / "file";
    std::ofstream(file) << "keep me";
    EXPECT_FALSE(fifo.Start(
        file, [](const std::string&) {}, error));
    EXPECT_NE(error.find("not a FIFO"), std::string::npos);
    std::ifstream in(file);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
}

}  // namespace
}  // namespace zuvo::platform::posix
