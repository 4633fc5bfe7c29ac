#include "app/tlogout.h"

#include <cerrno>
#include <system_error>

namespace {

TAString SystemText(int code)
{
    return TAString(std::generic_category().message(code));
}

}  // namespace

bool TLogOut::Open(const TAString& fileName)
{
    Close();
    fileName_ = fileName;
    error_ = TAString();
    errno = 0;
    file_.reset(std::fopen(fileName.c_str(), "ab"));
    if (!file_) error_ = SystemText(errno != 0 ? errno : EIO);
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
    errno = 0;
    if (std::fwrite(line.c_str(), 1, size, file_.get()) == size) return true;
    error_ = SystemText(errno != 0 ? errno : EIO);
    return false;
}
