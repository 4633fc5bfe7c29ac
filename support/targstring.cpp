#include "support/targstring.h"

bool TArgString::IsSeparator(char c) const
{
    return separators_.str().find(c) != std::string::npos;
}

int TArgString::ArgCount() const
{
    int count = 0;
    bool quoted = false;
    bool prevSeparator = true;
    for (char c : text_.str()) {
        bool sep = !quoted && IsSeparator(c);
        if (!sep && prevSeparator) ++count;
        if (c == '"') quoted = !quoted;
        prevSeparator = sep;
    }
    return count;
}

TAString TArgString::Arg(int index) const
{
    int count = -1;
    bool quoted = false;
    bool prevSeparator = true;
    TAString arg;
    for (char c : text_.str()) {
        bool sep = !quoted && IsSeparator(c);
        if (!sep && prevSeparator) ++count;
        if (c == '"') {
            quoted = !quoted;
        } else if (!sep && count == index) {
            arg += c;
        }
        if (count > index) break;
        prevSeparator = sep;
    }
    return arg;
}
