#include "engine/tsettingsfile.h"

#include "support/tbaseerror.h"
#include "support/tfd.h"
#include "support/tfullfilename.h"
#include "support/tsafefile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::filesystem::path PathOf(const TAString& name)
{
    return std::filesystem::path(name.str());
}

// Makes a rename in the directory durable; best effort.
void SyncDirectory(const std::filesystem::path& file)
{
    std::filesystem::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    TFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0) ::fsync(fd.Get());
}

// The text of an entry; nullopt when it is missing, empty text when it has none.
std::optional<TAString> EntryText(const TXmlElement& config, const char* key)
{
    if (!config.Contains(key)) return std::nullopt;
    try {
        return config[key]("<TEXT>");
    } catch (const TBaseError&) {
        return TAString();
    }
}

}  // namespace

TSettingsFile::TClaimSettings TSettingsFile::AddressClaim(const TXmlElement& config)
{
    TClaimSettings claim;
    auto text = [&config](const char* key) { return EntryText(config, key); };
    if (const std::optional<TAString> on = text(ClaimKey)) {
        if (*on == "0") {
            claim.Enabled = false;
        } else if (*on != "1") {
            claim.Problem = TAString("settings entry \"") + ClaimKey + "\" is '" + *on +
                            "', not 1 (claim) or 0 (no claim): the address is claimed";
        }
    }
    if (const std::optional<TAString> name = text(NameKey)) {
        if (const std::optional<uint64_t> parsed = TAddressClaim::ParseName(*name)) {
            claim.Name = *parsed;
        } else {
            if (!claim.Problem.IsEmpty()) claim.Problem += "; ";
            claim.Problem += TAString("settings entry \"") + NameKey + "\" is '" + *name +
                             "', not 1 to 16 hexadecimal digits: the NAME is " +
                             TAddressClaim::NameText(TAddressClaim::DefaultName);
        }
    }
    return claim;
}

TSettingsFile::TControlSettings TSettingsFile::Control(const TXmlElement& config)
{
    TControlSettings control;
    auto text = [&config](const char* key) { return EntryText(config, key); };
    auto problem = [&control](const TAString& what) {
        control.Problem += (control.Problem.IsEmpty() ? "" : "; ") + what;
    };
    bool wanted = false;
    if (const std::optional<TAString> on = text(ControlKey)) {
        if (*on == "1") {
            wanted = true;
        } else if (*on != "0") {
            problem(TAString("settings entry \"") + ControlKey + "\" is '" + *on + "', not 1 (on) or 0 (off)");
        }
    }
    if (const std::optional<TAString> port = text(ControlPortKey)) {
        const std::string& digits = port->str();
        long value = 0;
        const bool number = !digits.empty() && digits.size() <= 5 &&
                            digits.find_first_not_of("0123456789") == std::string::npos &&
                            (value = std::stol(digits)) >= 1 && value <= 65535;
        if (number) {
            control.Port = static_cast<uint16_t>(value);
        } else {
            problem(TAString("settings entry \"") + ControlPortKey + "\" is '" + *port + "', not a port 1 to 65535");
        }
    }
    if (const std::optional<TAString> address = text(ControlAddressKey)) control.Address = *address;
    if (const std::optional<TAString> token = text(ControlTokenKey)) control.TokenFile = *token;
    control.Enabled = wanted && control.Problem.IsEmpty();
    if (wanted && !control.Enabled) control.Problem += ": the control API is off";
    return control;
}

void TSettingsFile::SetControl(TXmlElement& config, const TControlSettings& control)
{
    config[ControlKey]("<TEXT>") = control.Enabled ? "1" : "0";
    config[ControlPortKey]("<TEXT>") = TAString(static_cast<int32_t>(control.Port));
    config[ControlAddressKey]("<TEXT>") = control.Address;
    config[ControlTokenKey]("<TEXT>") = control.TokenFile;
}

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
    saveError_ = TAString();
    protectFile_ = false;
    keepOut_ = false;
    usingDefaults_ = false;

    std::error_code ec;
    auto status = std::filesystem::status(PathOf(path_), ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        SetDefaults();
        usingDefaults_ = true;
        return;
    }

    // Settings name libraries and files the program opens: a file someone else left in
    // the folder is not taken for the user's own, nor replaced.
    // A symlink someone else planted is theirs too, whatever it points at (it could aim
    // the move-aside and the save at any file of the user's).
    struct stat st {};
    struct stat link {};
    if (::lstat(path_.c_str(), &link) == 0 && link.st_uid != ::geteuid()) st = link;
    else if (::stat(path_.c_str(), &st) != 0) st.st_uid = ::geteuid();
    if (st.st_uid != ::geteuid()) {
        SetDefaults();
        usingDefaults_ = true;
        keepOut_ = true;
        saveError_ = "\"" + path_ + "\" belongs to another user (uid " + TAString(std::to_string(st.st_uid)) +
                     ") and is left as it is";
        notice_ = "The settings file \"" + path_ + "\" belongs to another user (uid " +
                  TAString(std::to_string(st.st_uid)) +
                  ") and is not used. The program starts with its default settings and will not save "
                  "them there.";
        return;
    }

    TAString reason;
    try {
        TAString text = TSafeFile::ReadInput(path_, TSafeFile::SettingsLimit);
        // A file that a crash left filled with zero bytes is damaged, not a shorter document.
        if (const size_t zero = text.str().find('\0'); zero != std::string::npos) {
            const auto line = 1 + std::count(text.str().begin(), text.str().begin() + static_cast<std::ptrdiff_t>(zero), '\n');
            throw TXmlError("TSettingsFile::Load", "Zero Byte In File", "line " + TAString(std::to_string(line)));
        }
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
        if (!e.Detail().IsEmpty()) reason += ": " + e.Detail();
    } catch (const std::bad_alloc&) {
        reason = "not enough memory to load it";
    } catch (const std::exception& e) {
        reason = e.what();
    }

    SetDefaults();
    usingDefaults_ = true;
    notice_ = "The settings file \"" + path_ + "\" could not be read (" + reason
        + "). The program starts with its default settings; ";
    if (!TSafeFile::MayReplace(path_)) {
        // A folder, a device or a FIFO is never moved or replaced.
        keepOut_ = true;
        saveError_ = "\"" + path_ + "\" is not a regular file and is left as it is";
        notice_ += "it is not a regular file, so it is left as it is and the settings will not be saved there.";
    } else if (MoveAside()) {
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
    if (!TSafeFile::MayReplace(target)) return false;
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
    if (keepOut_) return false;
    saveError_ = TAString();
    try {
        if (protectFile_) {
            if (!MoveAside()) {
                saveError_ = "the damaged file \"" + path_ + "\" could not be moved to \"" + BadFilePath() + "\"";
                return false;
            }
            protectFile_ = false;
        }
        const TAString text = config_.DocumentText();
        // Through a symlink to the file it names, which keeps its mode and owner; only
        // a regular file (or none yet) is replaced.
        const TAString target = TSafeFile::Target(path_);
        const TSafeFile::TKind kind = TSafeFile::Kind(target);
        if (kind != TSafeFile::fkMissing && !TSafeFile::MayReplace(target)) {
            saveError_ = "\"" + path_ + "\" is not a regular file and is left as it is";
            return false;
        }
        if (kind == TSafeFile::fkMissing) {
            if (const std::optional<TAString> refusal = TSafeFile::Refusal(target)) {
                saveError_ = *refusal;
                return false;
            }
        }
        temp = TSafeFile::CreateTempBeside(target);
        WriteFile(temp, text);
        TSafeFile::ReplaceBy(target, temp);
        return true;
    } catch (const TBaseError& e) {
        saveError_ = e.Detail().IsEmpty() ? "\"" + path_ + "\": " + e.Message() : e.Detail();
    } catch (const std::exception& e) {
        saveError_ = "\"" + path_ + "\": " + e.what();
    }
    // The old file is untouched.
    if (!temp.IsEmpty()) ::unlink(temp.c_str());
    return false;
}

void TSettingsFile::WriteFile(const TAString& path, const TAString& data)
{
    static const char* const op = "TSettingsFile::WriteFile";
    TFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    const auto fail = [&](const char* message, int error) {
        return TBaseError(op, message, "\"" + path_ + "\": " + TAString(std::strerror(error)));
    };
    if (fd.Get() < 0) throw fail("PathNotFound", errno);
    if (const int error = TSafeFile::WriteAll(fd.Get(), data.c_str(), static_cast<size_t>(data.Length())))
        throw fail("write error", error);
    if (::fsync(fd.Get()) != 0) throw fail("write error", errno);
    if (const int error = fd.Close()) throw fail("write error", error);
}
