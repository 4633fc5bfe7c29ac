// The file-drop channel against a disk that fails, planted files and links, and files at
// the read name that are not drops of records.

#include "support/Communication/tcommhdd.h"

#include "channeltesthelpers.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iostream>
#include <sys/mount.h>
#include <sys/stat.h>

using namespace commtest;

namespace {

Bytes FileBytes(const std::string& name)
{
    std::ifstream file(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void PutFile(const std::string& name, const Bytes& bytes)
{
    std::ofstream file(name, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A record check for the tests: a record is valid unless its first byte is 0xFF.
TCommOptions Checked()
{
    return TCommOptions(24, [](const uint8_t* record, uint8_t&) { return record[0] != 0xFF; }, false);
}

// Installs a write fault for the channels made while it lives.
class WriteFault {
public:
    explicit WriteFault(TCommHDD::TWriteFault fault) { TCommHDD::SetWriteFault(std::move(fault)); }
    ~WriteFault() { TCommHDD::SetWriteFault(nullptr); }
    WriteFault(const WriteFault&) = delete;
    WriteFault& operator=(const WriteFault&) = delete;
};

// Takes the drops published at name, one after another, until want bytes have come.
Bytes TakeDrops(const std::string& name, size_t want, std::vector<size_t>* sizes = nullptr,
                std::chrono::milliseconds limit = 10s)
{
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        if (!std::filesystem::exists(name)) {
            std::this_thread::sleep_for(2ms);
            continue;
        }
        const Bytes drop = FileBytes(name);
        std::filesystem::remove(name);
        if (sizes) sizes->push_back(drop.size());
        got.insert(got.end(), drop.begin(), drop.end());
    }
    return got;
}

} // namespace

// Each reason a drop cannot be written is told once, with the folder; the records wait and
// go out whole once the disk takes them. On a full disk the drop is made smaller until what
// fits is published.
TEST(TCommHDD, DropThatCannotBeWrittenSaysWhyOnceAndWhatFitsIsPublished)
{
    const struct {
        const char* name;
        int code;
        size_t room;            // bytes a drop may hold before the write fails (full disk)
        const char* told;       // in the report's detail
    } cases[] = {
        {"full disk", ENOSPC, 10 * 24, "No space left on device; drops are made smaller"},
        {"missing folder", ENOENT, 0, "the folder does not exist"},
        {"no permission", EACCES, 0, "no permission to write there"},
    };
    for (const auto& c : cases) {
        CapturedReports reports;
        TempDir dir;
        std::atomic<bool> failing{true};
        WriteFault fault([&](size_t fileBytes) {
            if (!failing) return 0;
            if (c.code == ENOSPC) return fileBytes > c.room ? ENOSPC : 0;
            return c.code;
        });
        TCommHDD channel(dir / "out", dir / "in", 24);
        const Bytes records = Records(0, 100);
        ASSERT_EQ(channel.Write(records.data(), records.size()), records.size());

        std::vector<size_t> sizes;
        Bytes got;
        if (c.code == ENOSPC) {
            // 10 records fit: drops of at most 10 records carry all 100 while the disk stays full.
            got = TakeDrops(dir / "out", records.size(), &sizes);
            EXPECT_EQ(got, records) << c.name;
            for (const size_t size : sizes) EXPECT_LE(size, c.room) << c.name;
        } else {
            std::this_thread::sleep_for(100ms);
            EXPECT_FALSE(std::filesystem::exists(dir / "out")) << c.name;
            EXPECT_EQ(channel.Drain(0ms), records.size()) << c.name << ": the records wait";
            failing = false;
            got = TakeDrops(dir / "out", records.size());
            EXPECT_EQ(got, records) << c.name;
        }
        const auto taken = reports.Taken();
        ASSERT_EQ(taken.size(), 1U) << c.name << ": told once";
        EXPECT_EQ(taken[0].error.Operation(), "TCommHDD::Send");
        EXPECT_EQ(taken[0].error.Message(), "Drop not written");
        EXPECT_NE(taken[0].error.Detail().Find("in folder '" + dir.Path() + "'"), -1) << taken[0].error.Detail().str();
        EXPECT_NE(taken[0].error.Detail().Find(c.told), -1) << taken[0].error.Detail().str();
        // Nothing is left behind in the folder but the drops.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 0) << c.name;
    }
}

// The same on a real small file system, where the system permits mounting one.
TEST(TCommHDD, FullTmpfsPublishesWhatFitsAndReportsTheRest)
{
    TempDir dir;
    const std::string mount = dir / "small";
    std::filesystem::create_directory(mount);
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "mounting a tmpfs is not permitted here (" << std::strerror(errno) << ")";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{mount};
    CapturedReports reports;
    // A file that leaves about 20 KiB free; 2,000 records are 48,000 bytes.
    PutFile(mount + "/filler", Bytes(44 * 1024, 0));
    TCommHDD channel(mount + "/out", mount + "/in", 24);
    const Bytes records = Records(0, 2000);
    ASSERT_EQ(channel.Write(records.data(), records.size()), records.size());
    std::vector<size_t> sizes;
    EXPECT_EQ(TakeDrops(mount + "/out", records.size(), &sizes, 30s), records);
    ASSERT_FALSE(reports.Taken().empty());
    EXPECT_NE(reports.Taken()[0].error.Detail().Find("No space left on device"), -1);
}

// The temporary file's name cannot be guessed, and a link planted where the old names
// were is never written through.
TEST(TCommHDD, PlantedLinksNeverMakeAWriteGoThroughThem)
{
    TempDir dir;
    const Bytes victim = {'k', 'e', 'e', 'p'};
    PutFile(dir / "victim.txt", victim);
    const std::vector<std::string> planted = {"outWR", "outWR." + std::to_string(::getpid()), "outWR.0", "outWR.1"};
    for (const std::string& name : planted)
        std::filesystem::create_symlink(dir / "victim.txt", dir / name);
    {
        TCommHDD channel(dir / "out", dir / "in", 24);
        for (uint32_t drop = 0; drop < 5; ++drop) {
            const Bytes records = Records(drop * 10, 10);
            channel.Write(records.data(), records.size());
            EXPECT_EQ(TakeDrops(dir / "out", records.size()), records);
        }
    }
    EXPECT_EQ(FileBytes(dir / "victim.txt"), victim);
    // Only the planted links remain besides the victim.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 5);
}

// A file at the read name is taken only when it is a regular file of this user in which
// every record is valid; anything else stays byte for byte and is reported once.
TEST(TCommHDD, OnlyValidDropsOfThisUserAreTaken)
{
    const Bytes good = Records(0, 5);
    Bytes bad = Records(0, 5);
    bad[48] = 0xFF;   // record 3 fails the check

    const struct {
        const char* name;
        Bytes content;
        bool link;        // the read name is a link to the file
        bool foreign;     // the file belongs to another user (made only where chown is permitted)
        bool taken;
        const char* told;
    } cases[] = {
        {"valid drop", good, false, false, true, nullptr},
        {"record 3 invalid", bad, false, false, false, "is not a drop of records (record 3 is not valid)"},
        {"a file of other bytes", Bytes(48, 0xFF), false, false, false, "record 1 is not valid"},
        {"a link to a valid drop", good, true, false, false, "is a symbolic link"},
        {"another user's valid drop", good, false, true, false, "belongs to another user (uid 54321)"},
    };
    for (const auto& c : cases) {
        CapturedReports reports;
        TempDir dir;
        const std::string in = dir / "in";
        if (c.link) {
            PutFile(dir / "target", c.content);
            std::filesystem::create_symlink(dir / "target", in);
        } else {
            PutFile(in, c.content);
        }
        if (c.foreign && ::chown(in.c_str(), 54321, 54321) != 0) {
            std::cout << "[ SKIPPED  ] " << c.name << ": chown is not permitted here\n";
            continue;
        }
        TCommHDD channel(dir / "out", in, Checked());
        if (c.taken) {
            EXPECT_EQ(ReadFor(channel, c.content.size()), c.content) << c.name;
            EXPECT_TRUE(Eventually([&] { return !std::filesystem::exists(in); })) << c.name;
            EXPECT_EQ(reports.Count(), 0U) << c.name;
            continue;
        }
        ASSERT_TRUE(Eventually([&] { return reports.Count() >= 1; })) << c.name;
        std::this_thread::sleep_for(100ms);   // looked at again and again: told once
        EXPECT_EQ(reports.Count(), 1U) << c.name;
        EXPECT_EQ(channel.Available(), 0U) << c.name;
        EXPECT_EQ(channel.Losses().RefusedDrops, 1U) << c.name;
        const auto taken = reports.Taken();
        EXPECT_EQ(taken[0].error.Message(), "Read file left in place");
        EXPECT_NE(taken[0].error.Detail().Find(c.told), -1) << taken[0].error.Detail().str();
        if (c.link) {
            EXPECT_TRUE(std::filesystem::is_symlink(in));
            EXPECT_EQ(FileBytes(dir / "target"), c.content);
        } else {
            EXPECT_EQ(FileBytes(in), c.content) << c.name;
        }
    }
}

// Closing while a peer publishes: what was taken and not read goes back in front of the
// peer's new drop, which is never replaced.
TEST(TCommHDD, GivingBackAtACloseKeepsAPeersNewDrop)
{
    TempDir dir;
    const std::string in = dir / "in";
    auto channel = std::make_unique<TCommHDD>(dir / "out", in, 24);
    PutFile(dir / "in.part", Records(0, 10));
    std::filesystem::rename(dir / "in.part", in);
    ASSERT_TRUE(Eventually([&] { return channel->Available() == 240; }));
    EXPECT_EQ(ReadFor(*channel, 48), Records(0, 2));
    channel->StopReceiving();
    // The peer publishes its next drop after the receiver stopped taking.
    PutFile(dir / "in.part", Records(10, 5));
    std::filesystem::rename(dir / "in.part", in);
    channel.reset();
    EXPECT_EQ(FileBytes(in), Records(2, 13));
}
