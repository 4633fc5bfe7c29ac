#include "support/Communication/tcommhdd.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr auto PollPause = 20ms;
constexpr auto RetryPause = 10ms;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool Exists(const TAString& name)
{
    std::error_code error;
    return std::filesystem::exists(name.str(), error);
}

} // namespace

TCommHDD::TCommHDD(const TAString& writeName, const TAString& readName)
    : TACommunication(std::nullopt, PollPause), readName_(readName), writeName_(writeName)
{
    StartThreads();
}

TCommHDD::~TCommHDD()
{
    StopThreads();
}

bool TCommHDD::Send()
{
    TABuffer& buffer = SendBuffer();
    const int count = buffer.Count();
    if (count == 0)
        return false;
    // The peer has not taken the last drop yet: look again shortly.
    if (Exists(writeName_))
        return PauseSend(PollPause);

    // The bytes stay in the buffer until the drop carries its final name, so a failed
    // write loses nothing: the next step tries again with the same bytes.
    const TAString partName = writeName_ + "WR";
    {
        FilePtr file(std::fopen(partName.c_str(), "wb"));
        if (!file)
            return PauseSend(PollPause);
        std::vector<uint8_t> bytes(count);
        buffer.Peek(bytes.data(), count);
        for (int done = 0; done < count; done += PieceSize) {
            const size_t piece = static_cast<size_t>(std::min(PieceSize, count - done));
            if (std::fwrite(bytes.data() + done, 1, piece, file.get()) != piece) {
                file.reset();
                std::remove(partName.c_str());
                return PauseSend(PollPause);
            }
        }
        if (std::fclose(file.release()) != 0) {
            std::remove(partName.c_str());
            return PauseSend(PollPause);
        }
    }
    for (;;) {
        std::error_code error;
        std::filesystem::rename(partName.str(), writeName_.str(), error);
        if (!error)
            break;
        if (!PauseSend(RetryPause))
            return false;
    }
    buffer.Skip(count);
    return buffer.Count() > 0;
}

bool TCommHDD::Receive()
{
    if (!Exists(readName_))
        return false;
    {
        FilePtr file(std::fopen(readName_.c_str(), "rb"));
        if (!file)
            return false;
        TABuffer& buffer = ReceiveBuffer();
        for (;;) {
            uint8_t* place = buffer.GetDirectWrite(PieceSize);
            const size_t got = std::fread(place, 1, PieceSize, file.get());
            buffer.SetNDirectWrite(static_cast<int>(got));
            if (got < static_cast<size_t>(PieceSize))
                break;
        }
        if (std::ferror(file.get()))
            throw TBaseError("TCommHDD::Receive", "unknown-Fatal-Error");
    }
    for (;;) {
        std::error_code error;
        std::filesystem::remove(readName_.str(), error);
        if (!error)
            break;
        if (!PauseReceive(RetryPause))
            break;
    }
    return true;
}
