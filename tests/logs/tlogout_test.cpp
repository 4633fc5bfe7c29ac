// TLogOut: what it refuses to open (and leaves exactly as it was), FIFOs as streams, and
// write failures that cut the file back to its last whole line.
#include "logs/tcanlogreader.h"
#include "logs/tlogout.h"

#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "tests/engine/runfakes.h"
#include "tests/support/tfilesizelimit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// 35 bytes per line: 33 characters and CR LF.
constexpr size_t LineBytes = 35;

TCanFrame Frame(int k)
{
    return TCanFrame(0x18FEF100u, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}, 8, int64_t(k) * 10000);
}

class TLogOutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qv_logout_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static std::string ReadAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void WriteAll(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    fs::path dir_;
};

// What a path is, to compare before and after: kind, content of a file, link text.
std::string Snapshot(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "missing";
    if (S_ISLNK(st.st_mode)) return "link to " + fs::read_symlink(path).string() + " / " + Snapshot(fs::canonical(path));
    if (S_ISDIR(st.st_mode)) return "folder with " + std::to_string(std::distance(fs::directory_iterator(path), {}));
    if (S_ISFIFO(st.st_mode)) return "fifo";
    if (S_ISSOCK(st.st_mode)) return "socket";
    if (S_ISCHR(st.st_mode)) return "char device " + std::to_string(st.st_rdev);
    std::ifstream in(path, std::ios::binary);
    return "file mode " + std::to_string(st.st_mode & 0777) + ": " +
           std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(TLogOutTest, RefusedPathsAreLeftExactlyAsTheyWere)
{
    fs::create_directories(Path("empty-folder"));
    ASSERT_EQ(::mkfifo(Path("fifo-without-reader").c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string sockPath = Path("sock");
    ASSERT_LT(sockPath.size(), sizeof address.sun_path);
    std::copy(sockPath.begin(), sockPath.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink("/dev/null", Path("link-to-null"));

    struct TCase {
        std::string path;
        const char* reason;
    };
    const TCase cases[] = {
        {Path("empty-folder"), "is a folder, not a file"},
        {"/dev/null", "is a device or a socket, not a regular file or a FIFO"},
        {Path("link-to-null"), "is a device or a socket, not a regular file or a FIFO"},
        {Path("sock"), "is a device or a socket, not a regular file or a FIFO"},
        {Path("fifo-without-reader"), "is a FIFO that no program reads"},
        {Path("no/such/folder.asc"), "does not exist"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string before = Snapshot(c.path);
        TLogOut log;
        EXPECT_FALSE(log.Open(c.path));
        EXPECT_FALSE(log.IsOpen());
        EXPECT_TRUE(log.Failed());
        EXPECT_EQ(log.Error().Operation(), "TLogOut::Open");
        EXPECT_EQ(log.Error().Message(), "Output log not opened");
        EXPECT_NE(log.Error().Detail().Find(c.reason), -1) << log.Error().Detail().str();
        EXPECT_FALSE(log.Append(Frame(0)));
        EXPECT_FALSE(log.Open(c.path, TLogOut::omReplace));
        EXPECT_EQ(Snapshot(c.path), before);
    }
    ::close(sock);
}

TEST_F(TLogOutTest, CheckCreatesNothingAndNamesTheSameReasonsAsOpen)
{
    EXPECT_FALSE(TLogOut::Check(Path("new.asc")).has_value());
    EXPECT_FALSE(fs::exists(Path("new.asc")));
    const std::optional<TBaseError> folder = TLogOut::Check(dir_.string());
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(folder->Message(), "Output log not opened");
    EXPECT_EQ(folder->Detail(), std::string("'").append(dir_.string()).append("' is a folder, not a file"));
    EXPECT_TRUE(TLogOut::Check("/dev/null").has_value());
}

TEST_F(TLogOutTest, NoWritePermissionIsRefusedWithTheReason)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
    WriteAll(Path("ro.asc"), "kept\r\n");
    fs::permissions(Path("ro.asc"), fs::perms::owner_read);
    TLogOut log;
    EXPECT_FALSE(log.Open(Path("ro.asc")));
    EXPECT_NE(log.Error().Detail().Find("Permission denied"), -1);
    EXPECT_EQ(ReadAll(Path("ro.asc")), "kept\r\n");
}

TEST_F(TLogOutTest, AppendKeepsTheContentReplaceEmptiesItAndBothKeepTheFileItself)
{
    const std::string path = Path("kept.asc");
    WriteAll(path, "old\r\n");
    ::chmod(path.c_str(), 0600);
    fs::create_symlink("kept.asc", Path("link.asc"));
    struct stat before {};
    ::stat(path.c_str(), &before);

    TLogOut log;
    ASSERT_TRUE(log.Open(Path("link.asc")));
    ASSERT_TRUE(log.Append(Frame(1)));
    ASSERT_TRUE(log.Close());
    EXPECT_EQ(ReadAll(path), "old\r\n000.0100 18FEF100F315000CFFFFFFFF\r\n");

    ASSERT_TRUE(log.Open(Path("link.asc"), TLogOut::omReplace));
    ASSERT_TRUE(log.Append(Frame(2)));
    ASSERT_TRUE(log.Close());
    EXPECT_EQ(ReadAll(path), "000.0200 18FEF100F315000CFFFFFFFF\r\n");
    EXPECT_EQ(log.LinesWritten(), 1);

    // Written through the link into the same file: same inode, same mode, link still a link.
    struct stat after {};
    ::stat(path.c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0600u);
    EXPECT_TRUE(fs::is_symlink(Path("link.asc")));
}

// A FIFO is a stream: the reader gets whole lines, and a reader that goes away is a
// write error, not the end of the process.
TEST_F(TLogOutTest, FifoTakesTheLogAsAStreamAndAReaderThatLeavesIsAWriteError)
{
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);

    TLogOut log;
    ASSERT_TRUE(log.Open(fifo, TLogOut::omReplace));
    ASSERT_TRUE(log.Append(Frame(0)));
    ASSERT_TRUE(log.Append(Frame(1)));
    ASSERT_TRUE(log.Flush());
    char text[128] = {};
    ASSERT_EQ(::read(reader, text, sizeof text), ssize_t(2 * LineBytes));
    EXPECT_EQ(std::string(text, 2 * LineBytes),
              "000.0000 18FEF100F315000CFFFFFFFF\r\n000.0100 18FEF100F315000CFFFFFFFF\r\n");
    ::close(reader);

    ASSERT_TRUE(log.Append(Frame(2)));
    EXPECT_FALSE(log.Flush());
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(log.Error().Operation(), "TLogOut::Write");
    EXPECT_EQ(log.Error().Message(), "Output log write error");
    EXPECT_EQ(log.Error().Detail(), "'" + fifo + "': Broken pipe; 2 lines written");
    EXPECT_FALSE(log.Close());   // the failure stays until the next Open
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(TLogOutTest, FullFileEndsWithItsLastWholeLineAndSaysSo)
{
    struct TCase {
        const char* name;
        std::string before;
        rlim_t limit;
        int64_t lines;   // whole lines that fit: (limit - before) / 35, rounded down
    };
    const TCase cases[] = {
        {"new.asc", "", 1000, 28},            // 980 bytes; 20 of the 29th line are cut off
        {"old.asc", "old\r\n", 1000, 28},     // 995 bytes left: 28 lines and 15 bytes
        {"exact.asc", "", 700, 20},           // the limit falls on a line end
        {"none.asc", "", 30, 0},              // not even one line
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path(c.name);
        if (!c.before.empty()) WriteAll(path, c.before);
        TLogOut log;
        ASSERT_TRUE(log.Open(path));
        bool ok = true;
        {
            TFileSizeLimit limit(c.limit);
            for (int k = 0; k < 200 && ok; ++k) ok = log.Append(Frame(k));
            if (ok) ok = log.Flush();
        }
        EXPECT_FALSE(ok);
        EXPECT_FALSE(log.IsOpen());
        EXPECT_EQ(log.LinesWritten(), c.lines);
        EXPECT_EQ(log.Error().Detail(), "'" + path + "': File too large; " + std::to_string(c.lines) +
                                            " lines written, the file ends with the last whole line");
        EXPECT_EQ(log.Reason(), "File too large");
        const std::string text = ReadAll(path);
        ASSERT_EQ(text.size(), c.before.size() + size_t(c.lines) * LineBytes);
        EXPECT_EQ(text.substr(0, c.before.size()), c.before);
        if (c.lines > 0) {
            EXPECT_EQ(text.substr(text.size() - LineBytes), TLogOut::Line(Frame(int(c.lines) - 1)).str() + "\r\n");
        }
    }
}

// The engine tells the user once, switches the log off, and the run goes on.
TEST_F(TLogOutTest, EngineReportsAFailedLogOnceAndTheRunGoesOn)
{
    TManualTimeSource clock;
    TRecordingTransmit transmit;
    TRecordingErrors errors;
    TRecordingView view;
    TFakeChannel channel;
    TRunEngine engine(clock, transmit);
    engine.SetErrorReporter(&errors);
    engine.SetView(&view);
    engine.SetCanChannel(&channel);
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    std::string lines;
    for (int k = 0; k < 400; ++k) lines += TLogOut::Line(Frame(k)).str() + "\n";
    engine.InternalLines = TCanLogReader::Parse(lines);

    const std::string path = Path("engine.asc");
    ASSERT_TRUE(engine.OpenLogOut(path));
    engine.Controls.LogFile = true;
    {
        TFileSizeLimit limit(LineBytes * 100 + 10);
        engine.Start();
        for (int t = 0; t < 100 && engine.Running(); ++t) {
            clock.AdvanceMicros(50000);
            engine.TimerSysTimer();
        }
        engine.Stop();
    }
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Operation(), "TLogOut::Write");
    EXPECT_NE(errors.shown[0].Detail().Find(TAString(path)), -1);
    EXPECT_FALSE(engine.Controls.LogFile);
    EXPECT_EQ(transmit.sent.size(), 400u);   // every frame still left for the bus
    EXPECT_EQ(ReadAll(path).size(), 100 * LineBytes);
}

// The window's Logfile box flushes the log itself; a failure there is shown by the
// engine at its next tick, once.
TEST_F(TLogOutTest, FailedFlushFromTheWindowIsShownAtTheNextTick)
{
    TManualTimeSource clock;
    TRecordingTransmit transmit;
    TRecordingErrors errors;
    TRunEngine engine(clock, transmit);
    engine.SetErrorReporter(&errors);
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    std::string lines;
    for (int k = 0; k < 20; ++k) lines += TLogOut::Line(Frame(k)).str() + "\n";
    engine.InternalLines = TCanLogReader::Parse(lines);
    const std::string path = Path("window.asc");
    ASSERT_TRUE(engine.OpenLogOut(path));
    engine.Controls.LogFile = true;
    engine.Start();
    clock.AdvanceMicros(50000);
    engine.TimerSysTimer();   // frames 0..4 buffered
    {
        TFileSizeLimit limit(2 * LineBytes + 5);
        EXPECT_FALSE(engine.LogOut().Flush());
    }
    EXPECT_TRUE(errors.shown.empty());
    clock.AdvanceMicros(50000);
    engine.TimerSysTimer();
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Detail(),
              "'" + path + "': File too large; 2 lines written, the file ends with the last whole line");
    EXPECT_FALSE(engine.Controls.LogFile);
    clock.AdvanceMicros(50000);
    engine.TimerSysTimer();
    engine.Stop();
    EXPECT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(ReadAll(path).size(), 2 * LineBytes);
}

TEST_F(TLogOutTest, EngineShowsWhyALogCannotBeOpened)
{
    TManualTimeSource clock;
    TRecordingTransmit transmit;
    TRecordingErrors errors;
    TRunEngine engine(clock, transmit);
    engine.SetErrorReporter(&errors);
    engine.Controls.LogFile = true;
    EXPECT_FALSE(engine.OpenLogOut(dir_.string()));
    EXPECT_FALSE(engine.Controls.LogFile);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Detail(), std::string("'").append(dir_.string()).append("' is a folder, not a file"));
    EXPECT_TRUE(fs::is_directory(dir_));
}

}  // namespace

namespace {

// One writer per log: whichever name reaches the file (itself, a symlink, a hard link),
// a second writer is refused while the first has it open, and the first one's lines
// stay as they were; once it is closed the file is free again.
TEST_F(TLogOutTest, SecondWriterOfTheSameFileIsRefusedWhileTheFirstHasItOpen)
{
    const std::string log = Path("run.log");
    WriteAll(log, "000.0000 18FEF100F315000CFFFFFFFF\r\n");
    fs::create_symlink("run.log", Path("link.log"));
    fs::create_hard_link(log, Path("hard.log"));
    TLogOut first;
    ASSERT_TRUE(first.Open(log, TLogOut::omAppend));
    ASSERT_TRUE(first.Append(Frame(1)));
    ASSERT_TRUE(first.Flush());
    const std::string written = ReadAll(log);
    ASSERT_EQ(written.size(), 2u * 35u);
    const struct {
        const char* name;
        TLogOut::TOpenMode mode;
    } cases[] = {{"run.log", TLogOut::omAppend}, {"run.log", TLogOut::omReplace},
                 {"link.log", TLogOut::omReplace}, {"hard.log", TLogOut::omReplace}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TLogOut second;
        EXPECT_FALSE(second.Open(Path(c.name), c.mode));
        EXPECT_FALSE(second.IsOpen());
        EXPECT_EQ(second.Error().Operation(), "TLogOut::Open");
        EXPECT_EQ(second.Error().Detail(), "'" + Path(c.name) + "' is being written by another run; it is left as it is");
        EXPECT_EQ(ReadAll(log), written);
    }
    // The first writer goes on as if nothing had happened.
    EXPECT_TRUE(first.Append(Frame(2)));
    ASSERT_TRUE(first.Close());
    EXPECT_EQ(ReadAll(log).size(), 3u * 35u);
    EXPECT_EQ(ReadAll(log).substr(0, written.size()), written);
    TLogOut after;
    EXPECT_TRUE(after.Open(log, TLogOut::omReplace));
    EXPECT_TRUE(after.Close());
}

}  // namespace
