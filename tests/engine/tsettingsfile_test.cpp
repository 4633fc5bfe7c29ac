// TSettingsFile: first start, keys kept, fallback for damaged files, safe saving.
#include "engine/tsettingsfile.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <fstream>
#include <atomic>
#include <iterator>
#include <thread>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string Decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n";

class TSettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path()
            / ("qv_settings_" + std::to_string(::getpid()) + "_"
               + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    TAString Dir() const { return TAString(dir_.string()); }
    fs::path Path(const char* name = "Quorvella.xml") const { return dir_ / name; }
    void Write(const std::string& bytes, const char* name = "Quorvella.xml") const
    {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const char* name = "Quorvella.xml") const
    {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // Every entry of the folder with its kind, mode, owner and content or link text.
    std::map<std::string, std::string> Entries() const
    {
        std::map<std::string, std::string> entries;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            std::string what = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + " ";
            if (S_ISLNK(st.st_mode)) what += fs::read_symlink(entry.path()).string();
            if (S_ISREG(st.st_mode)) what += Read(entry.path().filename().c_str());
            entries[entry.path().filename().string()] = what;
        }
        return entries;
    }
    TXmlElement ReadTree() const { return TXmlElement::ParseDocument(TAString(Read())); }

    fs::path dir_;
};

TEST_F(TSettingsFileTest, FirstStartWithoutFileWritesCompleteFileAtShutdown)
{
    TSettingsFile settings(Dir());
    EXPECT_EQ(settings.FilePath(), TAString(Path().string()));
    settings.Load();
    EXPECT_TRUE(settings.UsingDefaults());
    EXPECT_EQ(settings.TakeNotice(), "");   // a first start is nothing to report
    EXPECT_EQ(settings.VectorDllPath(), "vcand32.dll");
    EXPECT_FALSE(fs::exists(Path()));       // written at shutdown only

    ASSERT_TRUE(settings.Save());
    std::string text = Read();
    ASSERT_EQ(text.substr(0, Decl.size()), Decl);
    size_t rootLine = text.find('\n', Decl.size());
    ASSERT_NE(rootLine, std::string::npos);
    EXPECT_EQ(text.substr(rootLine),
              "\n<Quorvella xmlns:xsi=\"http://www.w3.org/2000/10/XMLSchema-instance\""
              " xsi:noNamespaceSchemaLocation=\"Quorvella.xsd\">"
              "\n <CanAdapter>"
              "\n  <-></->"
              "\n </CanAdapter>"
              "\n <FzgSim>"
              "\n  <Position>"
              "\n   <Top>0</Top>"
              "\n   <Left>0</Left>"
              "\n  </Position>"
              "\n </FzgSim>"
              "\n</Quorvella>");
    EXPECT_FALSE(fs::exists(Path("Quorvella.xml.tmp")));
    EXPECT_FALSE(fs::exists(Path("Quorvella.xml.bad")));
}

TEST_F(TSettingsFileTest, SettingsStoredByTheWindowsComeBack)
{
    {
        TSettingsFile settings(Dir());
        settings.Load();
        settings.FzgSim()["Position Top"]("<TEXT>") = "120";
        settings.SetVectorDllPath("/opt/Vector Treiber/vcand32.dll");
        TXmlElement channel("Vci3.0");
        channel["DriverName"]("<TEXT>") = "IXXAT GmbH (VCI 3.x)";
        settings.CanAdapter().GetElement(0).Assign(channel);
        ASSERT_TRUE(settings.Save());
    }
    TSettingsFile settings(Dir());
    settings.Load();
    EXPECT_FALSE(settings.UsingDefaults());
    EXPECT_EQ(settings.VectorDllPath(), "/opt/Vector Treiber/vcand32.dll");
    const TXmlElement& config = settings.Config();
    EXPECT_EQ(config["FzgSim Position Top"]("<TEXT>"), "120");
    EXPECT_EQ(config["FzgSim Position Left"]("<TEXT>"), "0");
    EXPECT_EQ(config["CanAdapter"].CountKeys(), 1);
    EXPECT_EQ(config["CanAdapter"].GetElement(0).Name(), "Vci3.0");
    EXPECT_EQ(config["CanAdapter Vci3.0 DriverName"]("<TEXT>"), "IXXAT GmbH (VCI 3.x)");
}

TEST_F(TSettingsFileTest, UnknownKeysSurvive)
{
    Write(Decl + "<!-- by hand -->\n"
                 "<Quorvella build=\"7\">\n"
                 " <CanAdapter><Simulation><Comm>RAM 1</Comm></Simulation></CanAdapter>\n"
                 " <Extra level=\"2\">\n"
                 "  <Deep>Größe &amp; Gewicht</Deep>\n"
                 "  <!-- note -->\n"
                 " </Extra>\n"
                 " <FzgSim><Position><Top>5</Top><Left>6</Left></Position><Zoom>3</Zoom></FzgSim>\n"
                 "</Quorvella>");
    TSettingsFile settings(Dir());
    settings.Load();
    EXPECT_FALSE(settings.UsingDefaults());
    EXPECT_EQ(settings.TakeNotice(), "");
    EXPECT_EQ(settings.VectorDllPath(), "vcand32.dll");   // no FileNameVectorDll: the plain name
    ASSERT_TRUE(settings.Save());

    TXmlElement saved = ReadTree();
    EXPECT_EQ(saved.Name(), "Quorvella");
    EXPECT_EQ(saved("build"), "7");
    EXPECT_EQ(saved["Extra"]("level"), "2");
    EXPECT_EQ(saved["Extra Deep"]("<TEXT>"), "Größe & Gewicht");
    EXPECT_EQ(saved["Extra"]("<COMMENT>"), " note ");
    EXPECT_EQ(saved["CanAdapter Simulation Comm"]("<TEXT>"), "RAM 1");
    EXPECT_EQ(saved["FzgSim Zoom"]("<TEXT>"), "3");
    EXPECT_EQ(saved["FzgSim Position Top"]("<TEXT>"), "5");
    EXPECT_FALSE(fs::exists(Path("Quorvella.xml.bad")));
}

TEST_F(TSettingsFileTest, EntryWithoutLibraryNameKeepsTheOtherSettings)
{
    Write(Decl + "<Quorvella><FileNameVectorDll/><FzgSim><Position><Top>9</Top></Position></FzgSim></Quorvella>");
    TSettingsFile settings(Dir());
    settings.Load();
    EXPECT_FALSE(settings.UsingDefaults());
    EXPECT_EQ(settings.VectorDllPath(), "vcand32.dll");
    EXPECT_EQ(settings.Config()["FzgSim Position Top"]("<TEXT>"), "9");
}

TEST_F(TSettingsFileTest, DamagedFileFallsBackToDefaultsAndIsKeptAsBad)
{
    const std::string damaged[] = {
        Decl + "<Quorvella><CanAdapter></Quorvella>",            // wrong end tag
        Decl + "<Quorvella>\n <CanAdapter>\n  <-></->\n </CanAdapter>\n <FzgSim>\n  <Position>\n   <To",   // cut off
        "<?xml version=\"1.1\" encoding=\"UTF-8\" ?>\n<Quorvella></Quorvella>",
        "",                                                       // empty
        Decl,                                                     // no root element
        std::string(300, '\0'),                                   // zero-filled by a crash
        "Quorvella settings",                                     // not XML at all
    };
    for (const std::string& bytes : damaged) {
        SCOPED_TRACE(bytes.size());
        Write("older damaged file", "Quorvella.xml.bad");
        Write(bytes);
        TSettingsFile settings(Dir());
        settings.Load();
        EXPECT_TRUE(settings.UsingDefaults());
        const TXmlElement& config = settings.Config();
        EXPECT_EQ(config.Name(), "Quorvella");
        EXPECT_EQ(config("xsi:noNamespaceSchemaLocation"), "Quorvella.xsd");
        EXPECT_EQ(config["CanAdapter"].GetElement(0).Name(), "-");
        EXPECT_EQ(config["FzgSim Position Left"]("<TEXT>"), "0");

        EXPECT_EQ(Read("Quorvella.xml.bad"), bytes);   // the older .bad is replaced
        TAString notice = settings.TakeNotice();
        EXPECT_NE(notice.Find(settings.BadFilePath()), -1) << notice.str();
        EXPECT_NE(notice.Find("default"), -1) << notice.str();
        EXPECT_EQ(settings.TakeNotice(), "");   // shown once

        ASSERT_TRUE(settings.Save());
        EXPECT_EQ(Read("Quorvella.xml.bad"), bytes);
        EXPECT_EQ(ReadTree()["CanAdapter"].GetElement(0).Name(), "-");
    }
}

// Writes half of the new text and fails, as a crash or a full disk would.
class TInterruptedSettingsFile : public TSettingsFile {
public:
    using TSettingsFile::TSettingsFile;
    int writes = 0;
    TAString target;

protected:
    void WriteFile(const TAString& path, const TAString& data) override
    {
        ++writes;
        target = path;
        std::ofstream(path.str(), std::ios::binary) << data.str().substr(0, data.str().size() / 2);
        throw TBaseError("TSettingsFile::WriteFile", "write error");
    }
};

TEST_F(TSettingsFileTest, InterruptedSaveLeavesTheOldFileIntact)
{
    {
        TSettingsFile first(Dir());
        first.Load();
        first.FzgSim()["Position Top"]("<TEXT>") = "42";
        ASSERT_TRUE(first.Save());
    }
    const std::string before = Read();

    TInterruptedSettingsFile settings(Dir());
    settings.Load();
    settings.FzgSim()["Position Top"]("<TEXT>") = "77";
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(settings.writes, 1);
    // The new text went to another file in the same directory, never to the settings file.
    EXPECT_EQ(fs::path(settings.target.str()).parent_path(), dir_);
    EXPECT_NE(settings.target, settings.FilePath());
    EXPECT_FALSE(fs::exists(settings.target.str()));   // and was cleaned up

    EXPECT_EQ(Read(), before);
    TSettingsFile again(Dir());
    again.Load();
    EXPECT_FALSE(again.UsingDefaults());
    EXPECT_EQ(again.Config()["FzgSim Position Top"]("<TEXT>"), "42");
}

// Another program's temporary file is neither used nor removed.
TEST_F(TSettingsFileTest, LeftoverTemporaryFileDoesNotDisturb)
{
    Write(Decl + "<Quorvella><FzgSim><Position><Top>3</Top></Position></FzgSim></Quorvella>");
    Write("<Quorv", "Quorvella.xml.tmp");
    TSettingsFile settings(Dir());
    settings.Load();
    EXPECT_EQ(settings.Config()["FzgSim Position Top"]("<TEXT>"), "3");
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(Read("Quorvella.xml.tmp"), "<Quorv");
    EXPECT_EQ(ReadTree()["FzgSim Position Top"]("<TEXT>"), "3");
}

TEST_F(TSettingsFileTest, SaveWritesThroughASymlinkAndKeepsTheFilesMode)
{
    fs::create_directories(Path("store"));
    Write(Decl + "<Quorvella><FzgSim><Position><Top>5</Top></Position></FzgSim></Quorvella>", "store/real.xml");
    ::chmod(Path("store/real.xml").c_str(), 0600);
    fs::create_symlink("store/real.xml", Path());
    TSettingsFile settings(Dir());
    settings.Load();
    EXPECT_FALSE(settings.UsingDefaults());
    settings.FzgSim()["Position Top"]("<TEXT>") = "6";
    ASSERT_TRUE(settings.Save());

    EXPECT_TRUE(fs::is_symlink(Path()));
    EXPECT_EQ(fs::read_symlink(Path()), "store/real.xml");
    EXPECT_EQ(TXmlElement::ParseDocument(TAString(Read("store/real.xml")))["FzgSim Position Top"]("<TEXT>"), "6");
    EXPECT_EQ(fs::status(Path("store/real.xml")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(Path("store")), {}), 1);   // no temporary left

    // A malformed file behind the link is kept beside itself; the link stays.
    Write("<Quorvella", "store/real.xml");
    TSettingsFile damaged(Dir());
    damaged.Load();
    EXPECT_TRUE(damaged.UsingDefaults());
    EXPECT_EQ(Read("store/real.xml.bad"), "<Quorvella");
    ASSERT_TRUE(damaged.Save());
    EXPECT_TRUE(fs::is_symlink(Path()));
    EXPECT_EQ(ReadTree().Name(), "Quorvella");
}

// Two programs saving in one folder at the same time: each has its own temporary file,
// and whoever reads the settings meanwhile finds a whole document.
TEST_F(TSettingsFileTest, ConcurrentSavesNeverLeaveAnEmptyOrPartialFile)
{
    TSettingsFile first(Dir());
    TSettingsFile second(Dir());
    first.Load();
    second.Load();
    first.FzgSim()["Position Top"]("<TEXT>") = "1";
    second.FzgSim()["Position Top"]("<TEXT>") = "2";
    ASSERT_TRUE(first.Save());
    std::atomic<bool> done{false};
    std::atomic<int> failedSaves{0};
    auto saver = [&](TSettingsFile& settings) {
        for (int k = 0; k < 40; ++k)
            if (!settings.Save()) ++failedSaves;
    };
    int bad = 0;
    std::thread reader([&] {
        while (!done.load()) {
            try {
                const TAString top = ReadTree()["FzgSim Position Top"]("<TEXT>");
                if (top != "1" && top != "2") ++bad;
            } catch (const TBaseError&) {
                ++bad;
            }
        }
    });
    std::thread a(saver, std::ref(first));
    std::thread b(saver, std::ref(second));
    a.join();
    b.join();
    done.store(true);
    reader.join();
    EXPECT_EQ(failedSaves.load(), 0);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

TEST_F(TSettingsFileTest, SaveFailuresAreReportedNotThrown)
{
    TSettingsFile nowhere(TAString((dir_ / "missing" / "dir").string()));
    nowhere.Load();
    EXPECT_FALSE(nowhere.Save());

    Write(Decl + "<Quorvella><Keep>1</Keep></Quorvella>");
    TSettingsFile settings(Dir());
    settings.Load();
    settings.Config().AddKey(TXmlElement("two words"));   // a name no reader could take back
    const std::string before = Read();
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(Read(), before);
}

// What lies at "Quorvella.xml" is data from outside. Only the user's own regular file is
// read, moved aside or replaced; anything else is not used, left as it was (kind, mode,
// content, link), and both the start-up notice and the failed save say why.
TEST_F(TSettingsFileTest, SettingsThatAreNotTheUsersRegularFileAreLeftAsTheyWere)
{
    const bool madeDevice = ::mknod((dir_ / "zero").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0;
    if (!madeDevice) std::cout << "[ SKIPPED ] device cases: mknod is not permitted here\n";
    const uid_t other = ::geteuid() == 0 ? 4242 : 0;
    struct TCase {
        const char* name;
        std::function<bool()> plant;   // false: the case cannot be made here
        const char* notice;            // part of the start-up notice
        const char* saveError;         // part of SaveError
    };
    const std::string path = Path().string();
    const TCase cases[] = {
        {"symlink to a device", [&] { return madeDevice && ::symlink("zero", path.c_str()) == 0; },
         "is a device, a FIFO or a socket, not a regular file", "is not a regular file and is left as it is"},
        {"symlink to /dev/null", [&] { return ::symlink("/dev/null", path.c_str()) == 0; },
         "is a device, a FIFO or a socket, not a regular file", "is not a regular file and is left as it is"},
        {"FIFO", [&] { return ::mkfifo(path.c_str(), 0644) == 0; },
         "is a device, a FIFO or a socket, not a regular file", "is not a regular file and is left as it is"},
        {"folder", [&] { return ::mkdir(path.c_str(), 0755) == 0; }, "is a folder, not a file",
         "is not a regular file and is left as it is"},
        {"another user's file",
         [&] {
             Write(Decl + "<Quorvella><FileNameVectorDll>./evil.so</FileNameVectorDll></Quorvella>");
             return ::chown(path.c_str(), other, other) == 0;
         },
         "belongs to another user", "belongs to another user"},
        {"another user's symlink to the user's own file",
         [&] {
             Write("export PATH=/usr/bin\n", "profile");
             return ::symlink("profile", path.c_str()) == 0 && ::lchown(path.c_str(), other, other) == 0;
         },
         "belongs to another user", "belongs to another user"},
        {"larger than 16 MiB",
         [&] {
             Write(Decl + "<Quorvella>" + std::string(16u << 20, ' ') + "</Quorvella>");
             return true;
         },
         "is larger than 16777216 bytes", nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Path());
        if (!c.plant()) {
            std::cout << "[ SKIPPED ] " << c.name << ": cannot be made here\n";
            continue;
        }
        const auto before = Entries();
        TSettingsFile settings(Dir());
        settings.Load();
        EXPECT_TRUE(settings.UsingDefaults());
        EXPECT_EQ(settings.VectorDllPath(), "vcand32.dll");
        const TAString notice = settings.TakeNotice();
        EXPECT_NE(notice.Find(c.notice), -1) << notice.str();
        if (c.saveError) {
            EXPECT_FALSE(settings.Save());
            EXPECT_NE(settings.SaveError().Find(c.saveError), -1) << settings.SaveError().str();
            EXPECT_NE(settings.SaveError().Find(path), -1) << settings.SaveError().str();
            EXPECT_EQ(Entries(), before);
        } else {
            // A regular file of the user's that is too large is damaged data: kept as .bad.
            EXPECT_TRUE(settings.Save());
            EXPECT_EQ(fs::file_size(Path("Quorvella.xml.bad")), Decl.size() + (16u << 20) + 23);
        }
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    if (madeDevice) {
        EXPECT_TRUE(fs::is_character_file(dir_ / "zero"));
    }
}

TEST_F(TSettingsFileTest, MalformedFileIsReportedWithItsLine)
{
    Write(Decl + "<Quorvella>\n <CanAdapter>\n  <Simulation>\n   <Comm>RAM 1 1</Comm>\n </CanAdapter>\n</Quorvella>\n");
    TSettingsFile settings(Dir());
    settings.Load();
    const TAString notice = settings.TakeNotice();
    EXPECT_NE(notice.Find("Element Termination Incorrect: line 6"), -1) << notice.str();
}

TEST_F(TSettingsFileTest, SaveInAFolderThatCannotBeWrittenSaysWhy)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root writes any folder";
    TSettingsFile settings(Dir());
    settings.Load();
    ::chmod(dir_.c_str(), 0555);
    EXPECT_FALSE(settings.Save());
    ::chmod(dir_.c_str(), 0755);
    EXPECT_NE(settings.SaveError().Find("cannot be written"), -1) << settings.SaveError().str();
}

TEST_F(TSettingsFileTest, UsesTheWorkingDirectoryAtConstruction)
{
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    TSettingsFile settings;
    fs::current_path(previous);
    EXPECT_EQ(fs::path(settings.FilePath().str()), fs::canonical(dir_) / "Quorvella.xml");
    settings.Load();
    ASSERT_TRUE(settings.Save());
    EXPECT_TRUE(fs::exists(Path()));
}

}  // namespace
