#pragma once
// Text crosses between the logic (TAString, UTF-8 bytes) and the windows (QString) through these
// two and nowhere else, so a window never reads the bytes in another code page.

#include "support/tastring.h"

#include <QString>

namespace qv {

inline QString Q(const TAString& text)
{
    return QString::fromUtf8(text.c_str(), text.Length());
}

inline TAString T(const QString& text)
{
    return TAString(text.toStdString());
}

} // namespace qv
