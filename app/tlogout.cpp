#include "app/tlogout.h"

bool TLogOut::Open(const TAString& fileName)
{
    Close();
    fileName_ = fileName;
    file_.reset(std::fopen(fileName.c_str(), "ab"));
    return IsOpen();
}

void TLogOut::Close()
{
    file_.reset();
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
    TAString line = Line(frame);
    line += "\r\n";
    const auto size = static_cast<std::size_t>(line.Length());
    return std::fwrite(line.c_str(), 1, size, file_.get()) == size;
}
