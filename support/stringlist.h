#pragma once
// A growable list of strings, split from text at line feeds.

#include "support/tastring.h"

#include <vector>

class StringList {
public:
    StringList() = default;
    // Split at LF; each line without its LF; a last line without LF counts; "" gives no lines.
    explicit StringList(const TAString& text);

    int Add(const TAString& line);   // index of the new entry
    int Count() const { return static_cast<int>(items_.size()); }
    void Clear() { items_.clear(); }
    // Throws TBaseError("StringList::Del", "IndexOverrun") at or past the count.
    const TAString& operator[](int index) const;
    TAString& operator[](int index);

    // Replaces the contents; throws TBaseError("StringList::LoadFromFile", "FileNotFound").
    void LoadFromFile(const TAString& fileName, bool stripCr);

private:
    void Split(const TAString& text);
    std::vector<TAString> items_;
};
