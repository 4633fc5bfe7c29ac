#include "engine/tlogrecorder.h"

#include "logs/tinternallog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace {

std::string WithoutCr(std::string text)
{
    std::erase(text, '\r');
    return text;
}

// The built-in log must be what the program produces today: a change to the model,
// the catalogue or the tick that alters the traffic needs a new recording
// (quorvella-mklog), never a hand edit.
TEST(TLogRecorder, BuiltInLogIsTheProgramsOwnOutput)
{
    const auto path = std::filesystem::temp_directory_path() / ("qv_record_" + std::to_string(::getpid()) + ".asc");
    std::filesystem::remove(path);
    EXPECT_EQ(TLogRecorder::Record(path.string()), "");

    std::ifstream in(path, std::ios::binary);
    const std::string recorded{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded.substr(0, 35), "000.0000 18FEF100F315000CFFFFFFFF\r\n");
    EXPECT_TRUE(WithoutCr(recorded) == std::string(TInternalLog::Text()))
        << "data/internal.asc is not the current program's output; run quorvella-mklog";
}

}  // namespace
