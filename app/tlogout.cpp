#include "app/tlogout.h"

#include <chrono>
#include <ctime>

TLogOut::TLogOut() = default;

TLogOut::~TLogOut()
{
    Close();
}

bool TLogOut::Open(const TAString& fileName)
{
    Close();
    fileName_ = fileName;
    file_.reset(std::fopen(fileName.c_str(), "ab"));
    if (!file_) return false;
    writer_ = TLogLineWriter::Create(format_);
    // A file that cannot tell its length (a FIFO) is a new stream.
    const bool empty = std::fseek(file_.get(), 0, SEEK_END) != 0 || std::ftell(file_.get()) <= 0;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    Write(writer_->Begin(empty, local, static_cast<int>(millis)));
    return true;
}

void TLogOut::Close()
{
    if (file_ && writer_) Write(writer_->End());
    file_.reset();
    writer_.reset();
}

void TLogOut::Flush()
{
    if (file_) std::fflush(file_.get());
}

TAString TLogOut::Line(const TCanFrame& frame)
{
    return frame.ToString(lfFixedId);
}

bool TLogOut::Append(const TCanFrame& frame)
{
    if (!file_) return false;
    line_.clear();
    writer_->Append(frame, line_);
    return Write(line_);
}

bool TLogOut::Write(const std::string& text)
{
    if (text.empty()) return true;
    return std::fwrite(text.data(), 1, text.size(), file_.get()) == text.size();
}
