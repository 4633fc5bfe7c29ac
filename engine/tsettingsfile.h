#pragma once
// The settings file "Quorvella.xml": read once at start-up into the settings tree, written
// back once at shutdown. Windows read and write their settings in Config(), never in the
// file. Keys (paths of blank-separated words below the root, the value being the text
// node "<TEXT>"):
//   "FileNameVectorDll"      full name of the Vector driver library, when the user located it
//   "CanAdapter"             one child key: the settings of the CAN channel to open
//   "FzgSim Position Top"    cockpit window position, decimal text
//   "FzgSim Position Left"
//   "LogFileFormat"          the output log's format: "l5", "asc" or "candump"
//   "LogReceivedFrames"      "1": the output log records the frames received too
//   "AddressClaim"           "0": the simulated vehicle makes no J1939 address claim; "1"
//                            or no key: it claims its source address (TAddressClaim)
//   "J1939Name"              the simulated vehicle's J1939 NAME, 1 to 16 hexadecimal
//                            digits; no key: 1000000000000001 (TAddressClaim::DefaultName)
//   "ControlApi"             "1": the window serves the HTTP control API; "0" or no key: not
//   "ControlPort"            its port, 1 to 65535; no key: 8080
//   "ControlAddress"         the address it listens on; no key or empty: the loopback address
//   "ControlTokenFile"       the file holding the bearer token (needed for any other address)
// Keys the program does not know are kept and written back unchanged.
//
// Loading never throws. A missing file gives the defaults: root "Quorvella" with the schema
// reference "Quorvella.xsd", "CanAdapter" with the empty child "-", both positions "0".
// An unreadable or malformed file gives the same defaults, but is first moved aside to
// "Quorvella.xml.bad" (replacing an older one) so that the save at shutdown cannot destroy
// it, and a notice for the user is kept until TakeNotice.
//
// The file is data from outside: only a regular file of at most 16 MiB is read (a
// device, a FIFO or a folder is never waited on). One that is not a regular file, or
// that belongs to another user (settings name libraries the program loads and files it
// opens), is not used, never moved aside and never replaced: the defaults are used, the
// notice says why, and Save fails with SaveError saying why.
//
// Saving writes a temporary file beside the old one, under a name no other program
// uses, with the old file's mode, and renames it over the old one, so a crash, a full
// disk or a second program saving at the same time never leaves a truncated or empty
// settings file. A symlinked "Quorvella.xml" stays a link: the file it names is written
// (and, when malformed, moved aside beside itself).

#include "engine/taddressclaim.h"
#include "support/tastring.h"
#include "support/txmlelement.h"

class TSettingsFile {
public:
    static constexpr const char* FileName = "Quorvella.xml";
    static constexpr const char* SchemaName = "Quorvella.xsd";
    static constexpr const char* RootName = "Quorvella";
    static constexpr const char* DefaultVectorDll = "vcand32.dll";

    // The file in the working directory the process has now.
    TSettingsFile();
    // The file in directory (tests).
    explicit TSettingsFile(const TAString& directory);
    virtual ~TSettingsFile() = default;
    TSettingsFile(const TSettingsFile&) = delete;
    TSettingsFile& operator=(const TSettingsFile&) = delete;

    void Load();
    // False when the file could not be written; the file that was there stays as it was
    // and SaveError says why.
    bool Save();
    // Why the last Save failed, naming the file: "\"/home/u/Quorvella.xml\": No space
    // left on device"; empty after a good one.
    const TAString& SaveError() const { return saveError_; }

    TXmlElement& Config() { return config_; }
    const TXmlElement& Config() const { return config_; }
    TXmlElement& CanAdapter() { return config_["CanAdapter"]; }
    TXmlElement& FzgSim() { return config_["FzgSim"]; }

    // The address claim's entries of config (the tree of a settings file). An entry
    // that is not what it should be gives the default; Problem then names the entry and
    // says why (empty when both are good).
    struct TClaimSettings {
        bool Enabled = true;
        uint64_t Name = TAddressClaim::DefaultName;
        TAString Problem;
    };
    static constexpr const char* ClaimKey = "AddressClaim";
    static constexpr const char* NameKey = "J1939Name";
    static TClaimSettings AddressClaim(const TXmlElement& config);

    // The window's control API entries of config. An entry that is not what it should be
    // gives the default and Problem names it; the API then stays off, so that a
    // damaged entry never opens a port nobody asked for.
    struct TControlSettings {
        bool Enabled = false;
        uint16_t Port = 8080;
        TAString Address;     // empty: the loopback address
        TAString TokenFile;   // empty: none
        TAString Problem;
    };
    static constexpr const char* ControlKey = "ControlApi";
    static constexpr const char* ControlPortKey = "ControlPort";
    static constexpr const char* ControlAddressKey = "ControlAddress";
    static constexpr const char* ControlTokenKey = "ControlTokenFile";
    static TControlSettings Control(const TXmlElement& config);
    static void SetControl(TXmlElement& config, const TControlSettings& control);

    // The Vector library's file name: the text of "FileNameVectorDll" as loaded, else "vcand32.dll".
    const TAString& VectorDllPath() const { return vectorDllPath_; }
    // Sets the name and stores it under "FileNameVectorDll".
    void SetVectorDllPath(const TAString& fullName);

    const TAString& FilePath() const { return path_; }
    // Where a malformed file is kept: the name of the file (a symlink's target) + ".bad".
    TAString BadFilePath() const;
    // True when the last Load found no usable file and the defaults are in use.
    bool UsingDefaults() const { return usingDefaults_; }
    // The message for the user about the last Load ("" when there is none); given out once.
    TAString TakeNotice();

protected:
    // Writes data as the whole new content of the existing empty file path and makes it
    // durable; throws TBaseError on any failure. Tests override it to interrupt a save.
    virtual void WriteFile(const TAString& path, const TAString& data);

private:
    void SetDefaults();
    bool MoveAside();

    TAString path_;
    TXmlElement config_;
    TAString vectorDllPath_ = DefaultVectorDll;
    TAString notice_;
    TAString saveError_;
    bool usingDefaults_ = false;
    // The file is not the user's or not a regular file: it is neither moved nor replaced.
    bool keepOut_ = false;
    // A malformed file that could not be moved aside yet: Save must not replace it.
    bool protectFile_ = false;
};
