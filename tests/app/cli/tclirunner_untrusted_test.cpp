// The runner and files it should not trust: settings, logs and outputs that are devices,
// FIFOs, folders, other users' files, libraries others can write, and outputs that are
// the run's own inputs. Each is refused with the file and the reason, before anything at
// any path changes.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "logs/tlogout.h"
#include "can/vector/tcandrivervector.h"
#include "tests/support/tfilesizelimit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string Decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";

std::string VectorSettings(const std::string& library)
{
    return Decl + "<Quorvella>\n <FileNameVectorDll>" + library +
           "</FileNameVectorDll>\n <CanAdapter><Vector3.2><DriverName>Vector</DriverName><CardType>CANcaseXL"
           "</CardType><CardIndex>1</CardIndex><Channel>1</Channel></Vector3.2></CanAdapter>\n</Quorvella>\n";
}

class TCliRunnerUntrusted : public clitest::TCliRunFixture {
protected:
    // A settings file names the Vector library for the whole process.
    void TearDown() override
    {
        VectorDllPath() = "vcand32.dll";
        clitest::TCliRunFixture::TearDown();
    }
};

TEST_F(TCliRunnerUntrusted, UntrustedFilesAreRefusedWithTheirReasonAndLeftByteForByte)
{
    const std::string drive = Path("drive.l5");
    Write(drive, Log(300));
    const std::string settings = Path("s.xml");
    Write(settings, Decl + "<Quorvella><FzgSim/></Quorvella>\n");
    ::chmod(settings.c_str(), 0640);
    const std::string kept = Path("k.log");
    Write(kept, Log(10));
    Write(Path("old.dbc"), "VERSION \"old\"\n");
    fs::create_directories(Path("folder.xml"));
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    const bool madeDevice = ::mknod(Path("zero").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0;
    if (!madeDevice) std::cout << "[ SKIPPED ] the device node case: mknod is not permitted here\n";
    // A folder anyone may write, with a "library" in it: never loaded.
    fs::create_directories(Path("open"));
    ::chmod(Path("open").c_str(), 0777);
    Write(Path("open/evil.so"), "not a library");
    Write(Path("evil.xml"), VectorSettings(Path("open/evil.so")));
    // A library file anyone may write, in a safe folder.
    fs::create_directories(Path("safe"));
    Write(Path("safe/writable.so"), "not a library");
    ::chmod(Path("safe/writable.so").c_str(), 0666);
    Write(Path("writable.xml"), VectorSettings(Path("safe/writable.so")));
    Write(Path("bad.xml"), Decl + "<Quorvella>\n <CanAdapter>\n  <Simulation>\n </CanAdapter>\n</Quorvella>\n");

    const std::string fast[] = {"--fast", "--duration", "1"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), std::begin(fast), std::end(fast));
        return args;
    };
    const auto q = [](const std::string& path) { return "'" + path + "'"; };
    struct TCase {
        std::vector<std::string> args;
        std::string message;
    };
    std::vector<TCase> cases = {
        // Outputs that are inputs, or each other.
        {{"--source", "log", drive, "--fast", "--report", drive},
         "Report file error: Writing the timing report failed: " + q(drive) +
             ": is the file given with --source log; --report would replace it"},
        {with({"--settings", settings, "--log-out", settings}),
         "Log file error: Opening the output log failed: " + q(settings) +
             ": is the file given with --settings; --log-out would replace it"},
        {with({"--settings", settings, "--report", settings}),
         q(settings) + ": is the file given with --settings; --report would replace it"},
        {with({"--settings", settings, "--report", Path("sub/../s.xml")}),
         "is the file given with --settings; --report would replace it"},
        {with({"--log-out", kept, "--report", kept}),
         q(kept) + ": is also the output log (--log-out); --report would replace it"},
        {with({"--log-out", Path("new.log"), "--report", Path("./new.log")}),
         "is also the output log (--log-out); --report would replace it"},
        {{"--settings", settings, "--export-dbc", settings},
         "DBC file error: Writing the DBC file failed: " + q(settings) +
             ": is the file given with --settings; --export-dbc would replace it"},
        {{"--source", "log", drive, "--export-dbc", drive}, "is the file given with --source log"},
        // The DBC through the safe writer.
        {{"--export-dbc", "/dev/null"}, "'/dev/null' is a device or a socket, not a regular file or a FIFO"},
        {{"--export-dbc", Path("fifo")}, q(Path("fifo")) + " is a FIFO that no program reads"},
        {{"--export-dbc", Path("folder.xml")}, q(Path("folder.xml")) + " is a folder, not a file"},
        // Settings that are not regular files are never read (no hang, no endless read).
        {with({"--settings", "/dev/zero"}),
         "Settings error: The settings file cannot be used: '/dev/zero' is a device, a FIFO or a socket, "
         "not a regular file"},
        {with({"--settings", "/dev/urandom"}), "'/dev/urandom' is a device, a FIFO or a socket"},
        {with({"--settings", Path("fifo")}), q(Path("fifo")) + " is a device, a FIFO or a socket"},
        {with({"--settings", Path("folder.xml")}), q(Path("folder.xml")) + " is a folder, not a file"},
        // Libraries named by settings: only from files nobody else can change.
        {with({"--settings", Path("evil.xml")}),
         "the library is not loaded: " + q(Path("open/evil.so")) + ": its folder " + q(Path("open")) +
             " can be written by others"},
        {with({"--settings", Path("writable.xml")}),
         "the library is not loaded: " + q(Path("safe/writable.so")) + " can be written by others"},
        // Messages name the file, the line and what is missing.
        {with({"--settings", Path("bad.xml")}),
         q(Path("bad.xml")) + ": not a well-formed settings file (Element Termination Incorrect: line 5"},
        {with({"--channel", "Simulation RAM"}),
         "the channel description 'Simulation RAM' (--channel) lacks a word or names an unknown kind"},
    };
    if (madeDevice)
        cases.push_back({with({"--settings", Path("zero")}), q(Path("zero")) + " is a device, a FIFO or a socket"});
    fs::create_directories(Path("sub"));
    const auto before = Snapshot();
    for (const TCase& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        EXPECT_EQ(Run(c.args), TCliRunner::ExitFailed) << err_;
        EXPECT_NE(err_.find("quorvella-cli: "), std::string::npos) << err_;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_EQ(Snapshot(), before);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_character_file("/dev/zero"));
}

// A library path in a folder that only its owner writes is loaded; here it is no
// library, which says that it got past the checks.
TEST_F(TCliRunnerUntrusted, LibraryFromASafeFolderIsTried)
{
    fs::create_directories(Path("lib"));
    ::chmod(Path("lib").c_str(), 0755);
    Write(Path("lib/vcand32.so"), "not a library");
    ::chmod(Path("lib/vcand32.so").c_str(), 0644);
    Write(Path("s.xml"), VectorSettings(Path("lib/vcand32.so")));
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--settings", Path("s.xml")}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("the library '" + Path("lib/vcand32.so") + "' could not be loaded"), std::string::npos)
        << err_;
}

TEST_F(TCliRunnerUntrusted, LibraryOfAnotherUserIsNotLoaded)
{
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
    Write(Path("theirs.so"), "not a library");
    ASSERT_EQ(::chown(Path("theirs.so").c_str(), 4242, 4242), 0);
    Write(Path("s.xml"), VectorSettings(Path("theirs.so")));
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--settings", Path("s.xml")}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("'" + Path("theirs.so") + "' belongs to another user (uid 4242)"), std::string::npos) << err_;
}

// Under a file size limit the new DBC cannot be written whole: the old one stays as it
// was, no partial or temporary file is left, and the reason is given.
TEST_F(TCliRunnerUntrusted, DbcThatCannotBeWrittenWholeLeavesTheOldOne)
{
    Write(Path("fms.dbc"), "VERSION \"old\"\n");
    const auto before = Snapshot();
    int status = 0;
    {
        TFileSizeLimit limit(4096);
        status = Run({"--export-dbc", Path("fms.dbc")});
    }
    EXPECT_EQ(status, TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("DBC file error: Writing the DBC file failed: '" + Path("fms.dbc") +
                        "': File too large; the file is as it was"),
              std::string::npos)
        << err_;
    EXPECT_EQ(Snapshot(), before);
    // Without the limit it is written.
    EXPECT_EQ(Run({"--export-dbc", Path("fms.dbc")}), TCliRunner::ExitOk) << err_;
    EXPECT_NE(Read(Path("fms.dbc")).find("BO_ "), std::string::npos);
}

// One writer per output log: a second run on a log that is being written is refused and
// the first run's lines stay as they are.
TEST_F(TCliRunnerUntrusted, SecondRunOnAnOutputLogInUseIsRefused)
{
    const std::string log = Path("shared.log");
    TLogOut first;
    ASSERT_TRUE(first.Open(log, TLogOut::omReplace));
    TCanFrame frame;
    frame.Id = 0x18FEF100;
    ASSERT_TRUE(first.Append(frame));
    ASSERT_TRUE(first.Flush());
    const auto before = Snapshot();
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--log-out", log}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("Log file error: Opening the output log failed: '" + log +
                        "' is being written by another run; it is left as it is"),
              std::string::npos)
        << err_;
    EXPECT_EQ(Snapshot(), before);
    ASSERT_TRUE(first.Close());
    // Once the first writer is done, the log is free.
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--log-out", log}), TCliRunner::ExitOk) << err_;
}

}  // namespace
