// TSharedLibrary: a library named by the settings is loaded only when nobody but root or
// the user could have put code there; a plain name goes through the loader's search.
#include "can/vector/tsharedlibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class TSharedLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qv_sharedlib_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ::chmod(dir_.c_str(), 0755);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A copy of the Vector double at name, with mode; its folder made with folderMode.
    std::string Copy(const std::string& name, mode_t mode, mode_t folderMode = 0755)
    {
        const fs::path path = dir_ / name;
        fs::create_directories(path.parent_path());
        ::chmod(path.parent_path().c_str(), folderMode);
        fs::copy_file(QV_VECTOR_DOUBLE, path, fs::copy_options::overwrite_existing);
        ::chmod(path.c_str(), mode);
        return path.string();
    }

    fs::path dir_;
};

bool IsLoaded(const std::string& file)
{
    const std::vector<TAString> loaded = TSharedLibrary::Loaded();
    return std::find(loaded.begin(), loaded.end(), TAString(file)) != loaded.end();
}

TEST_F(TSharedLibraryTest, PathsLoadOnlyFromFilesNobodyElseCanChange)
{
    const uid_t other = ::geteuid() == 0 ? 4242 : 0;
    struct TCase {
        const char* what;
        std::function<std::string()> make;   // the path to load, "" when it cannot be made here
        std::string refusal;                 // part of Refusal(); empty: loads
    };
    const TCase cases[] = {
        {"own file in own folder", [&] { return Copy("ok/lib.so", 0644); }, ""},
        {"read-only file", [&] { return Copy("ro/lib.so", 0444); }, ""},
        {"symlink to a safe file",
         [&] {
             const std::string target = Copy("real/lib.so", 0644);
             fs::create_symlink(target, dir_ / "real/link.so");
             return (dir_ / "real/link.so").string();
         },
         ""},
        {"file others may write", [&] { return Copy("w/lib.so", 0666); }, "can be written by others"},
        {"file the group may write", [&] { return Copy("g/lib.so", 0664); }, "can be written by others"},
        {"folder others may write", [&] { return Copy("open/lib.so", 0644, 0777); },
         "its folder '" + (dir_ / "open").string() + "' can be written by others"},
        {"folder above open to others",
         [&] {
             const std::string path = Copy("above/sub/lib.so", 0644);
             ::chmod((dir_ / "above").c_str(), 0777);
             return path;
         },
         ": the folder '" + (dir_ / "above").string() + "' can be written by others"},
        {"sticky shared folder like /tmp", [&] { return Copy("tmp/lib.so", 0644, 01777); },
         "can be written by others"},
        {"safe link into an open folder",
         [&] {
             const std::string target = Copy("open2/lib.so", 0644, 0777);
             fs::create_directories(dir_ / "safe");
             fs::create_symlink(target, dir_ / "safe/link.so");
             return (dir_ / "safe/link.so").string();
         },
         "its folder '" + (dir_ / "open2").string() + "' can be written by others"},
        {"another user's file",
         [&] {
             const std::string path = Copy("theirs/lib.so", 0644);
             return ::chown(path.c_str(), other, other) == 0 ? path : std::string();
         },
         "belongs to another user (uid " + std::to_string(other) + ")"},
        {"FIFO",
         [&] {
             fs::create_directories(dir_ / "fifo");
             ::mkfifo((dir_ / "fifo/lib.so").c_str(), 0644);
             return (dir_ / "fifo/lib.so").string();
         },
         "is not a regular file"},
        {"folder", [&] { fs::create_directories(dir_ / "dir/lib.so"); return (dir_ / "dir/lib.so").string(); },
         "is not a regular file"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.make();
        if (path.empty()) {
            std::cout << "[ SKIPPED ] " << c.what << ": cannot be made here\n";
            continue;
        }
        TSharedLibrary library{TAString(path)};
        EXPECT_EQ(library.IsLoaded(), c.refusal.empty()) << library.Refusal().str();
        EXPECT_NE(library.Refusal().Find(c.refusal), -1) << library.Refusal().str();
        if (c.refusal.empty()) {
            EXPECT_TRUE(library.Has("ncdOpenDriver"));
            EXPECT_EQ(library.LoadedFrom(), TAString(fs::canonical(path).string()));
            EXPECT_TRUE(IsLoaded(fs::canonical(path).string()));
            EXPECT_EQ(TSharedLibrary::PathRefusal(TAString(path)), std::nullopt);
        } else {
            EXPECT_EQ(library.LoadedFrom(), "");
            EXPECT_EQ(TSharedLibrary::PathRefusal(TAString(path)), library.Refusal());
        }
    }
    EXPECT_FALSE(IsLoaded(fs::canonical(dir_ / "ok/lib.so").string()));
}

// A plain name is the loader's to find (never the working folder); the window shows
// where it was found.
TEST_F(TSharedLibraryTest, PlainNamesGoThroughTheLoaderSearchOnly)
{
    Copy("libqvplain.so", 0644);
    const fs::path previous = fs::current_path();
    fs::current_path(dir_);
    {
        TSharedLibrary inWorkingFolder("libqvplain.so");
        EXPECT_FALSE(inWorkingFolder.IsLoaded());
        EXPECT_EQ(inWorkingFolder.Refusal(), "");
        EXPECT_EQ(TSharedLibrary::PathRefusal("libqvplain.so"), std::nullopt);
    }
    fs::current_path(previous);

    TSharedLibrary system("libm.so.6");
    ASSERT_TRUE(system.IsLoaded());
    EXPECT_EQ(system.LoadedFrom().str().front(), '/');
    EXPECT_NE(system.LoadedFrom().Find("libm.so.6"), -1) << system.LoadedFrom().str();
    EXPECT_TRUE(IsLoaded(system.LoadedFrom().str()));
}

}  // namespace
