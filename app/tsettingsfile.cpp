#include "app/tsettingsfile.h"

#include "support/tbaseerror.h"
#include "support/tfd.h"
#include "support/tfullfilename.h"
#include "support/tsafefile.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::filesystem::path PathOf(const TAString& name)
{
    return std::filesystem::path(name.str());
}

// The file's bytes; throws TBaseError when it cannot be read.
TAString ReadWholeFile(const TAString& name)
{
    std::ifstream in(PathOf(name), std::ios::binary);
    if (!in) throw TBaseError("TSettingsFile::Load", "FileNotReadable");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw TBaseError("TSettingsFile::Load", "FileNotReadable");
    return TAString(std::move(bytes));
}

// Makes a rename in the directory durable; best effort.
void SyncDirectory(const std::filesystem::path& file)
{
    std::filesystem::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    TFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0) ::fsync(fd.Get());
}

}  // namespace

TSettingsFile::TSettingsFile() : path_(TFullFileName().Resolve(FileName)) {}

TSettingsFile::TSettingsFile(const TAString& directory)
    : path_(TFullFileName(directory).Resolve(FileName))
{
}

void TSettingsFile::SetDefaults()
{
    config_ = TXmlElement(TAString(RootName));
    config_.SetSchema(SchemaName);
    config_["CanAdapter"]["-"];
    config_["FzgSim Position Top"]("<TEXT>") = "0";
    config_["FzgSim Position Left"]("<TEXT>") = "0";
}

void TSettingsFile::Load()
{
    vectorDllPath_ = DefaultVectorDll;
    notice_ = TAString();
    protectFile_ = false;
    usingDefaults_ = false;

    std::error_code ec;
    auto status = std::filesystem::status(PathOf(path_), ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        SetDefaults();
        usingDefaults_ = true;
        return;
    }

    TAString reason;
    try {
        TAString text = ReadWholeFile(path_);
        // A file that a crash left filled with zero bytes is damaged, not a shorter document.
        if (text.str().find('\0') != std::string::npos)
            throw TXmlError("TSettingsFile::Load", "Zero Byte In File");
        config_ = TXmlElement::ParseDocument(text);
        const TXmlElement& loaded = config_;
        if (loaded.Contains("FileNameVectorDll")) {
            try {
                const TAString& dll = loaded["FileNameVectorDll"]("<TEXT>");
                if (!dll.IsEmpty()) vectorDllPath_ = dll;
            } catch (const TBaseError&) {
                // An entry without a file name: the library is looked for under its plain name.
            }
        }
        return;
    } catch (const TBaseError& e) {
        reason = e.DescribeText();
    } catch (const std::exception& e) {
        reason = e.what();
    }

    SetDefaults();
    usingDefaults_ = true;
    notice_ = "The settings file \"" + path_ + "\" could not be read (" + reason
        + "). The program starts with its default settings; ";
    if (MoveAside()) {
        notice_ += "the old file has been kept as \"" + BadFilePath() + "\".";
    } else {
        protectFile_ = true;
        notice_ += "the old file could not be moved to \"" + BadFilePath()
            + "\" and will not be overwritten.";
    }
}

bool TSettingsFile::MoveAside()
{
    // A symlink stays; the file it names is moved aside beside itself.
    std::error_code ec;
    TAString target;
    try {
        target = TSafeFile::Target(path_);
    } catch (const TBaseError&) {
        return false;
    }
    std::filesystem::rename(PathOf(target), PathOf(BadFilePath()), ec);
    if (ec) return false;
    SyncDirectory(PathOf(target));
    return true;
}

TAString TSettingsFile::BadFilePath() const
{
    try {
        return TSafeFile::Target(path_) + ".bad";
    } catch (const TBaseError&) {
        return path_ + ".bad";
    }
}

TAString TSettingsFile::TakeNotice()
{
    TAString notice = notice_;
    notice_ = TAString();
    return notice;
}

void TSettingsFile::SetVectorDllPath(const TAString& fullName)
{
    vectorDllPath_ = fullName;
    config_["FileNameVectorDll"]("<TEXT>") = fullName;
}

bool TSettingsFile::Save()
{
    TAString temp;
    try {
        if (protectFile_) {
            if (!MoveAside()) return false;
            protectFile_ = false;
        }
        const TAString text = config_.DocumentText();
        // Through a symlink to the file it names, which keeps its mode and owner; only
        // a regular file (or none yet) is replaced.
        const TAString target = TSafeFile::Target(path_);
        const TSafeFile::TKind kind = TSafeFile::Kind(target);
        if (kind != TSafeFile::fkMissing && kind != TSafeFile::fkRegular) return false;
        temp = TSafeFile::CreateTempBeside(target);
        WriteFile(temp, text);
        TSafeFile::ReplaceBy(target, temp);
        return true;
    } catch (...) {
        // Reported by the result; the old file is untouched.
    }
    if (!temp.IsEmpty()) ::unlink(temp.c_str());
    return false;
}

void TSettingsFile::WriteFile(const TAString& path, const TAString& data)
{
    static const char* const op = "TSettingsFile::WriteFile";
    TFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    if (fd.Get() < 0) throw TBaseError(op, "PathNotFound");
    if (TSafeFile::WriteAll(fd.Get(), data.c_str(), static_cast<size_t>(data.Length())) != 0)
        throw TBaseError(op, "write error");
    if (::fsync(fd.Get()) != 0) throw TBaseError(op, "write error");
    if (fd.Close() != 0) throw TBaseError(op, "write error");
}
