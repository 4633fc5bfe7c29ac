#pragma once
// A folder of its own per test and quorvella-cli's runner in the test's process, with
// what it printed on standard output and standard error.

#include "app/cli/tclirunner.h"

#include "engine/tcantransmit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clitest {

namespace fs = std::filesystem;

constexpr size_t LineBytes = 35;   // "000.0000 18FEF100F315000CFFFFFFFF" and CR LF

// What f holds from its start; f is closed.
inline std::string Slurp(std::FILE* f)
{
    std::string text;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

// The exit status of a spawned child; -1 for one killed by a signal, -2 for one that did
// not end within limit (then killed: a hang only SIGKILL ends).
inline int WaitForChild(pid_t pid, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One run of the command line in this process: its exit status and what it printed
// (Out stays empty when the caller gives the file for standard output).
struct TCliOutcome {
    int Status = 0;
    std::string Out;
    std::string Err;
};

inline TCliOutcome RunCommandLine(const std::vector<std::string>& words, std::FILE* out = nullptr)
{
    std::vector<TAString> args;
    for (const std::string& w : words) args.emplace_back(w);
    const TCliParse parsed = ParseCommandLine(args);
    EXPECT_EQ(parsed.Error, "");
    std::FILE* ownOut = out ? nullptr : std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::atomic<int> stop{0};
    TCliOutcome outcome;
    outcome.Status = TCliRunner(parsed.Options, out ? out : ownOut, err).Run(stop);
    if (ownOut) outcome.Out = Slurp(ownOut);
    outcome.Err = Slurp(err);
    return outcome;
}

class TCliRunFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qv_clirun_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs the command line with stdout into out (a fresh temporary file when null).
    int Run(const std::vector<std::string>& words, std::FILE* out = nullptr)
    {
        TCliOutcome outcome = RunCommandLine(words, out);
        out_ = std::move(outcome.Out);
        err_ = std::move(outcome.Err);
        return outcome.Status;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

    // Every entry of the folder (recursively) with its kind, mode, content or link text.
    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
            const std::string name = entry.path().lexically_relative(dir_).string();
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            std::string what = std::to_string(st.st_mode) + " ";
            if (S_ISLNK(st.st_mode)) {
                what += fs::read_symlink(entry.path()).string();
            } else if (S_ISREG(st.st_mode)) {
                what += Read(entry.path().string());
            }
            entries[name] = what;
        }
        return entries;
    }

    // A user log of n lines, 10 ms apart.
    static std::string Log(int n)
    {
        std::string text;
        char line[64];
        for (int k = 0; k < n; ++k) {
            std::snprintf(line, sizeof line, "%03d.%04d 18FEF100F315000CFFFFFFFF\r\n", k / 100, (k % 100) * 100);
            text += line;
        }
        return text;
    }

    // The log loads as a user log of the windowed program: whole lines only.
    static int UserLogLines(const std::string& path)
    {
        struct TNoTransmit : TCanTransmit {
            void Write(const TCanFrame&, int64_t) override {}
            void SetChannel(TCanChannel*) override {}
        } transmit;
        TManualTimeSource clock;
        TRunEngine engine(clock, transmit);
        return engine.LoadUserLog(TAString(path)) ? engine.UserLines().Count() : -1;
    }

    fs::path dir_;
    std::string out_;
    std::string err_;
};

}  // namespace clitest
