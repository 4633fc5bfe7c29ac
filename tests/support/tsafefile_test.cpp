// TSafeFile: whole-file replacement that keeps links, modes and the old file on failure.
#include "support/tsafefile.h"

#include "support/tbaseerror.h"
#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class TSafeFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qv_safefile_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static unsigned Mode(const std::string& path)
    {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
    // Every name in the folder.
    std::set<std::string> Names() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename().string());
        return names;
    }

    fs::path dir_;
};

TEST_F(TSafeFileTest, ReplacingKeepsTheModeAndWritesThroughLinksToTheirTarget)
{
    fs::create_directories(Path("real"));
    Write(Path("real/settings.xml"), "old");
    ::chmod(Path("real/settings.xml").c_str(), 0600);
    fs::create_symlink("real/settings.xml", Path("link.xml"));   // relative to the link's folder
    fs::create_symlink(Path("link.xml"), Path("link-to-link.xml"));

    EXPECT_EQ(TSafeFile::Target(Path("link-to-link.xml")), TAString(Path("real/settings.xml")));
    TSafeFile::Write(Path("link-to-link.xml"), "new text");

    EXPECT_EQ(Read(Path("real/settings.xml")), "new text");
    EXPECT_EQ(Mode(Path("real/settings.xml")), 0600u);
    EXPECT_TRUE(fs::is_symlink(Path("link.xml")));
    EXPECT_TRUE(fs::is_symlink(Path("link-to-link.xml")));
    EXPECT_EQ(Names(), (std::set<std::string>{"link-to-link.xml", "link.xml", "real"}));   // no temporary left
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("real")), {}), 1);

    // A new file gets the usual mode: 0666 less the umask.
    const mode_t mask = ::umask(022);
    TSafeFile::Write(Path("fresh.xml"), "x");
    ::umask(mask);
    EXPECT_EQ(Mode(Path("fresh.xml")), 0644u);
}

TEST_F(TSafeFileTest, WhatCannotTakeOutputIsRefusedAndLeftAlone)
{
    fs::create_directories(Path("folder"));
    fs::create_symlink("b", Path("a"));
    fs::create_symlink("a", Path("b"));
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    struct TCase {
        std::string path;
        std::string detail;
    };
    const TCase cases[] = {
        {Path("folder"), std::string("'").append(Path("folder")).append("' is a folder, not a file")},
        {"/dev/null", "'/dev/null' is a device or a socket, not a regular file or a FIFO"},
        {Path("no/such.xml"), "the folder '" + Path("no") + "' does not exist"},
        {Path("a"), std::string("'").append(Path("a")).append("': Too many levels of symbolic links")},
        {Path("fifo"), std::string("'").append(Path("fifo")).append("' is a FIFO that no program reads")},
        {"", "no file name given"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.path);
        const std::set<std::string> before = Names();
        try {
            TSafeFile::Write(c.path, "data");
            ADD_FAILURE() << "written";
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TSafeFile::Write");
            EXPECT_EQ(e.Detail(), c.detail);
        }
        EXPECT_EQ(Names(), before);
    }
    EXPECT_TRUE(fs::is_directory(Path("folder")));
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(TSafeFileTest, FifoWithAReaderIsWrittenAsAStream)
{
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    TSafeFile::Write(Path("fifo"), "{\"mode\": \"virtual\"}\n");
    char text[64] = {};
    EXPECT_EQ(::read(reader, text, sizeof text), 20);
    EXPECT_STREQ(text, "{\"mode\": \"virtual\"}\n");
    ::close(reader);
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));
}

TEST_F(TSafeFileTest, FailedWriteLeavesTheOldFileAndNoTemporary)
{
    Write(Path("report.json"), "previous report");
    const std::string big(100000, 'x');
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const Failure failure = FailureOf([&] { TSafeFile::Write(Path("report.json"), big); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(failure, (Failure{"TSafeFile::Write", "write error"}));
    EXPECT_EQ(Read(Path("report.json")), "previous report");
    EXPECT_EQ(Names(), (std::set<std::string>{"report.json"}));
}

// Two writers saving the same file again and again: each temporary name is their own,
// and a reader sees one whole version or the other, never an empty or mixed file.
TEST_F(TSafeFileTest, ConcurrentSavesNeverShowAReaderAPartialFile)
{
    const std::string path = Path("Quorvella.xml");
    const std::string a(3000, 'a');
    const std::string b(5000, 'b');
    Write(path, a);
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    auto writer = [&](const std::string& text) {
        for (int k = 0; k < 60; ++k) {
            try {
                TSafeFile::Write(path, text);
            } catch (const TBaseError&) {
                ++failures;
            }
        }
    };
    std::thread first(writer, a);
    std::thread second(writer, b);
    int reads = 0;
    int partial = 0;
    std::thread reader([&] {
        while (!done.load()) {
            const std::string seen = Read(path);
            ++reads;
            if (seen != a && seen != b) ++partial;
        }
    });
    first.join();
    second.join();
    done.store(true);
    reader.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(partial, 0) << "of " << reads << " reads";
    EXPECT_EQ(Names(), (std::set<std::string>{"Quorvella.xml"}));
}

TEST_F(TSafeFileTest, TemporaryNamesAreUniqueAndPrivateUntilTheyHaveTheTargetsMode)
{
    Write(Path("secret.xml"), "s");
    ::chmod(Path("secret.xml").c_str(), 0640);
    const TAString one = TSafeFile::CreateTempBeside(TAString(Path("secret.xml")));
    const TAString two = TSafeFile::CreateTempBeside(TAString(Path("secret.xml")));
    EXPECT_NE(one, two);
    EXPECT_EQ(fs::path(one.str()).parent_path(), dir_);
    EXPECT_EQ(Mode(one.str()), 0640u);
    EXPECT_EQ(fs::file_size(one.str()), 0u);
}

// Inputs: only a regular file within the limit is read; everything else is refused at
// once (never waited on) and left as it was.
TEST_F(TSafeFileTest, InputsAreRegularFilesWithinTheLimit)
{
    Write(Path("small.xml"), "<a/>\n");
    Write(Path("large.xml"), std::string(101, 'x'));
    fs::create_directories(Path("folder"));
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    fs::create_symlink("small.xml", Path("link.xml"));
    fs::create_symlink("/dev/zero", Path("zero.xml"));
    const bool madeDevice = ::mknod(Path("device").c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;
    if (!madeDevice) std::cout << "[ SKIPPED ] no device node of our own: mknod is not permitted here\n";
    const auto quoted = [&](const std::string& name) { return "'" + Path(name) + "'"; };
    struct TCase {
        std::string path;
        std::string content;   // read, or
        std::string detail;    // the refusal
    };
    std::vector<TCase> cases = {
        {Path("small.xml"), "<a/>\n", ""},
        {Path("link.xml"), "<a/>\n", ""},
        {Path("large.xml"), "", quoted("large.xml") + " is larger than 100 bytes"},
        {Path("folder"), "", quoted("folder") + " is a folder, not a file"},
        {Path("fifo"), "", quoted("fifo") + " is a device, a FIFO or a socket, not a regular file"},
        {Path("zero.xml"), "", quoted("zero.xml") + " is a device, a FIFO or a socket, not a regular file"},
        {"/dev/urandom", "", "'/dev/urandom' is a device, a FIFO or a socket, not a regular file"},
        {Path("missing.xml"), "", quoted("missing.xml") + ": No such file or directory"},
    };
    if (madeDevice)
        cases.push_back({Path("device"), "", quoted("device") + " is a device, a FIFO or a socket, not a regular file"});
    const std::set<std::string> before = Names();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.path);
        try {
            EXPECT_EQ(TSafeFile::ReadInput(c.path, 100).str(), c.content);
            EXPECT_EQ(c.detail, "");
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TSafeFile::ReadInput");
            EXPECT_EQ(e.Detail(), c.detail);
        }
    }
    EXPECT_EQ(Names(), before);
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));
    EXPECT_TRUE(fs::is_character_file("/dev/zero"));
}

// Two names are the same file when they reach one inode, or, for a file not yet there,
// the same name in one folder; only regular files may be replaced.
TEST_F(TSafeFileTest, SameFileAndWhatMayBeReplaced)
{
    Write(Path("a.log"), "x");
    Write(Path("b.log"), "x");
    fs::create_symlink("a.log", Path("link.log"));
    fs::create_hard_link(Path("a.log"), Path("hard.log"));
    fs::create_directories(Path("sub"));
    fs::create_symlink(dir_, Path("sub/up"));
    fs::create_directories(Path("Quorvella.xml"));
    fs::create_symlink("/dev/null", Path("null.xml"));
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    struct TCase {
        std::string a, b;
        bool same;
    };
    const TCase same[] = {
        {Path("a.log"), Path("a.log"), true},
        {Path("a.log"), Path("link.log"), true},
        {Path("a.log"), Path("hard.log"), true},
        {Path("a.log"), Path("sub/../a.log"), true},
        {Path("new.json"), Path("sub/up/new.json"), true},
        {Path("new.json"), Path("sub/new.json"), false},
        {Path("a.log"), Path("b.log"), false},
        {Path("new.json"), Path("other.json"), false},
        {Path("no/such"), Path("no/such"), false},
    };
    for (const TCase& c : same) {
        SCOPED_TRACE(c.a + " " + c.b);
        EXPECT_EQ(TSafeFile::SameFile(c.a, c.b), c.same);
    }
    const struct {
        std::string path;
        bool may;
    } replace[] = {
        {Path("a.log"), true},       {Path("link.log"), true},   {Path("Quorvella.xml"), false},
        {Path("null.xml"), false},   {Path("fifo"), false},      {Path("missing"), false},
    };
    for (const auto& c : replace) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(TSafeFile::MayReplace(c.path), c.may);
    }
}

}  // namespace
