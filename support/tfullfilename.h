#pragma once
// Resolves a file name against the working directory the process had when this
// object was made. On Linux: "/" separates; an absolute name is returned unchanged;
// one leading "./" is dropped and each leading "../" climbs one directory.

#include "support/tastring.h"

class TFullFileName {
public:
    TFullFileName();                                   // base: the current working directory
    explicit TFullFileName(const TAString& baseDir);   // base given (tests)

    TAString Resolve(const TAString& name);
    const TAString& Base() const { return base_; }
    const TAString& Last() const { return last_; }

private:
    TAString base_;
    TAString last_;
};
