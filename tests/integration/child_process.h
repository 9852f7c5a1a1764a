#pragma once

// Runs a program of this project as a separate process with its own environment, its
// standard output and error captured in files, for the integration tests.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zuvo::test {

// A scratch folder used as XDG_RUNTIME_DIR and XDG_CONFIG_HOME, removed at the end.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zuvo-it-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The environment that keeps a program's runtime objects private to one test: its runtime
// and settings folders, its single-instance lock and its RTTY block and socket. Tests run
// side by side, so every program a test starts gets this.
inline std::vector<std::string> PrivateEnv(const TempFolder& dir) {
    const std::string name = std::filesystem::path(dir.Path()).filename().string();
    return {"XDG_RUNTIME_DIR=" + dir.Path(), "XDG_CONFIG_HOME=" + dir / "config",
            "ZUVOBOX_LOCK_DIR=" + dir / "lock", "ZUVOBOX_RTTY_SHM=/" + name};
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class ChildProcess {
  public:
    // Started with posix_spawn rather than fork: a test process may run threads (and a
    // preload library) whose locks a forked child could inherit held before it execs.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& env, const std::string& stdoutPath,
                 const std::string& stderrPath)
        : program_(program), stdoutPath_(stdoutPath) {
        // The inherited environment with each NAME=value of env put in place of its NAME.
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& o) {
                return o.compare(0, name.size() + 1, name + "=") == 0;
            });
            if (!replaced) {
                environment.push_back(entry);
            }
        }
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<char*> envp;
        for (auto& e : environment) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Started as a shell starts it: this test process ignores SIGPIPE, which exec would
        // hand on.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data()) !=
            0) {
            pid_ = -1;
        }
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void Signal(int sig) {
        if (pid_ > 0) {
            kill(pid_, sig);
        }
    }

    // The exit code, or -1 when it did not exit in time (or died of a signal: -2); 127 when
    // the program could not be started.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        if (pid_ <= 0) {
            return 127;
        }
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    // Waits until standard output holds a line equal to `line` `count` times.
    bool WaitForLine(const std::string& line, int count = 1,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            int n = 0;
            for (const auto& l : ReadLines(stdoutPath_)) {
                n += l == line ? 1 : 0;
            }
            if (n >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::vector<std::string> Output() const { return ReadLines(stdoutPath_); }
    // How often standard output holds `line`.
    int CountLines(const std::string& line) const {
        int n = 0;
        for (const auto& l : Output()) {
            n += l == line ? 1 : 0;
        }
        return n;
    }
    // Waits until the program blocks SIGHUP, SIGINT and SIGTERM, which its signal watcher
    // does first thing: from then on those signals close it, where before they would kill
    // it. A test that signals a program it has not heard from yet waits for this first.
    bool WaitForSignalWatcher(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        const unsigned long long wanted =
            (1ULL << (SIGHUP - 1)) | (1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1));
        const auto end = std::chrono::steady_clock::now() + timeout;
        std::error_code ec;
        const auto program = std::filesystem::canonical(program_, ec);
        const std::string proc = "/proc/" + std::to_string(pid_);
        while (std::chrono::steady_clock::now() < end) {
            // Until exec the child is a copy of this process, with whatever mask it has.
            if (std::filesystem::read_symlink(proc + "/exe", ec) != program) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            std::ifstream status(proc + "/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("SigBlk:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) & wanted) == wanted) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // The process's peak resident size so far (VmHWM), in KiB; -1 when unknown.
    long PeakMemoryKiB() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmHWM:", 0) == 0) {
                return std::stol(line.substr(6));
            }
        }
        return -1;
    }
    pid_t Pid() const { return pid_; }

  private:
    std::string program_;
    std::string stdoutPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

inline std::string ZuvoBoxPath() {
    return std::string(ZUVO_BIN_DIR) + "/ZuvoBox";
}

}  // namespace zuvo::test
