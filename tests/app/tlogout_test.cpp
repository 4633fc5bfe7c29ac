// TLogOut: the output log says why it could not be opened or written.
#include "app/tlogout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

TCanFrame Eec1()
{
    TCanFrame f;
    f.Id = 0x0CF00400;
    f.Dlc = 8;
    f.Time = 20000;
    return f;
}

TEST(TLogOut, FailedOpenSaysWhyAndASuccessfulOneForgetsIt)
{
    TLogOut log;
    EXPECT_FALSE(log.Open("no/such/dir/out.asc"));
    EXPECT_EQ(log.Error(), "No such file or directory");
    EXPECT_EQ(log.FileName(), "no/such/dir/out.asc");
    EXPECT_FALSE(log.Append(Eec1()));

    const std::string name = (std::filesystem::temp_directory_path() / "tlogout_test.asc").string();
    std::remove(name.c_str());
    EXPECT_TRUE(log.Open(name));
    EXPECT_EQ(log.Error(), "");
    EXPECT_TRUE(log.Append(Eec1()));
    log.Close();
    EXPECT_EQ(std::filesystem::file_size(name), 35u);   // 33 characters and CR LF
    std::remove(name.c_str());
}

TEST(TLogOut, FailedWriteSaysWhy)
{
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TLogOut log;
    ASSERT_TRUE(log.Open("/dev/full"));
    // Lines are buffered; the write that reaches the device fails.
    bool failed = false;
    for (int i = 0; i < 100000 && !failed; ++i) failed = !log.Append(Eec1());
    EXPECT_TRUE(failed);
    EXPECT_EQ(log.Error(), "No space left on device");
}

}  // namespace
