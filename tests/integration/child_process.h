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
        : stdoutPath_(stdoutPath) {
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
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
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
    pid_t Pid() const { return pid_; }

  private:
    std::string stdoutPath_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

inline std::string ZuvoBoxPath() {
    return std::string(ZUVO_BIN_DIR) + "/ZuvoBox";
}

}  // namespace zuvo::test
