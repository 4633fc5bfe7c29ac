#include "support/tfullfilename.h"

#include <filesystem>
#include <system_error>

TFullFileName::TFullFileName()
{
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    base_ = ec ? TAString("/") : TAString(cwd.string());
}

TFullFileName::TFullFileName(const TAString& baseDir) : base_(baseDir) {}

TAString TFullFileName::Resolve(const TAString& name)
{
    if (name.Length() > 0 && name[0] == '/') {
        last_ = name;
        return last_;
    }
    TAString dir = base_;
    // A trailing separator of the base would double up below.
    while (dir.Length() > 1 && dir[dir.Length() - 1] == '/') dir.Truncate(dir.Length() - 1);
    TAString rest = name;
    if (rest.SubString(0, 2) == "./") rest = rest.SubString(2);
    while (rest.SubString(0, 3) == "../") {
        rest = rest.SubString(3);
        int cut = -1;
        for (int i = dir.Length() - 1; i >= 0; --i) {
            if (dir[i] == '/') {
                cut = i;
                break;
            }
        }
        if (cut >= 0) dir.Truncate(cut);
    }
    last_ = (dir == "/" ? TAString() : dir) + "/" + rest;
    return last_;
}
