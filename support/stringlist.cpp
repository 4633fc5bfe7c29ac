#include "support/stringlist.h"

#include "support/tbaseerror.h"

StringList::StringList(const TAString& text)
{
    Split(text);
}

void StringList::Split(const TAString& text)
{
    items_.clear();
    const std::string& s = text.str();
    size_t start = 0;
    while (start < s.size()) {
        size_t lf = s.find('\n', start);
        if (lf == std::string::npos) {
            items_.emplace_back(s.substr(start));
            break;
        }
        items_.emplace_back(s.substr(start, lf - start));
        start = lf + 1;
    }
}

int StringList::Add(const TAString& line)
{
    if (items_.capacity() == 0) items_.reserve(64);
    items_.push_back(line);
    return Count() - 1;
}

const TAString& StringList::operator[](int index) const
{
    if (index < 0 || index >= Count()) throw TBaseError("StringList::Del", "IndexOverrun");
    return items_[static_cast<size_t>(index)];
}

TAString& StringList::operator[](int index)
{
    if (index < 0 || index >= Count()) throw TBaseError("StringList::Del", "IndexOverrun");
    return items_[static_cast<size_t>(index)];
}

void StringList::LoadFromFile(const TAString& fileName, bool stripCr)
{
    TAString text;
    try {
        text.LoadFromFile(fileName, stripCr);
    } catch (const TBaseError&) {
        throw TBaseError("StringList::LoadFromFile", "FileNotFound");
    }
    Split(text);
}
