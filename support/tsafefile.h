#pragma once
// Output files that never lose what was at their path.
//
// Only a regular file or a FIFO takes output. A symlink is followed to its final
// target, which is the file written (the link stays a link). A directory, a device or
// a socket is refused before anything is opened or created, so a mistyped name cannot
// turn /dev/null or a folder into a regular file.
//
// Replace writes a whole new content: into a new file beside the target under a name
// no other program uses ("<target>.<pid>.<n>.tmp", created exclusively), with the
// target's permission bits (and owner, where the process may set it), made durable,
// then renamed over the target. A reader, a crash or a full disk sees the old file or
// the new one, never half of either. A FIFO is written as a stream instead.
//
// Errors are TBaseError("TSafeFile::<function>", "<short reason>", "<file>: <why>").

#include "support/tastring.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <sys/types.h>

class TSafeFile {
public:
    enum TKind { fkMissing, fkRegular, fkFifo, fkOther };

    // What the path names, symlinks followed (a dangling one names a missing file).
    static TKind Kind(const TAString& path);

    // The file path names: each symlink on the way replaced by what it points to,
    // until a name that is no symlink (which may be missing). Relative link texts are
    // taken from the link's folder. More than 40 links in a row throws ("Link loop").
    static TAString Target(const TAString& path);

    // Why path cannot take output, or nothing when it can: an existing regular file or
    // FIFO that the process may write, or a missing name in an existing folder the
    // process may write. Creates and changes nothing. Example reasons:
    //   "'/tmp' is a folder, not a file"
    //   "'/dev/null' is a device or a socket, not a regular file or a FIFO"
    //   "the folder '/no/such' does not exist"
    static std::optional<TAString> Refusal(const TAString& path);

    // A new empty file beside target, created exclusively under a name nobody uses, with
    // target's permission bits (0666 less the umask when target is missing). Its name.
    static TAString CreateTempBeside(const TAString& target);
    // Copies target's permission bits and, where allowed, its owner to file.
    static void CopyMode(const TAString& target, const TAString& file);
    // Renames temp over target and makes the rename durable.
    static void ReplaceBy(const TAString& target, const TAString& temp);

    // Writes data as the whole content of the file at path (a FIFO: as a stream),
    // following symlinks; never leaves part of data or removes the old file.
    static void Write(const TAString& path, const TAString& data);

    // Reads the whole of an input file: a regular file (symlinks followed) of at most
    // limit bytes. A folder, a device, a socket or a FIFO is refused without waiting on
    // it (it is opened non-blocking and never read); so is a file larger than limit,
    // or one that grows past it while it is read. Throws
    //   TBaseError("TSafeFile::ReadInput", "Refused", "'/dev/zero' is a device, a FIFO or
    //              a socket, not a regular file")
    //   TBaseError("TSafeFile::ReadInput", "FileNotReadable", "'x': Permission denied")
    //   TBaseError("TSafeFile::ReadInput", "Out of memory", "'x': not enough memory to
    //              read its 16777216 bytes")
    static TAString ReadInput(const TAString& path, std::size_t limit);
    // Settings files are read whole: 16 MiB.
    static constexpr std::size_t SettingsLimit = 16u << 20;

    // Which file a path names, for telling whether two paths are the same file: the
    // device and inode of the file (symlinks followed), or, for a name not there yet,
    // the device and inode of its folder and the last part of the name. Nothing when
    // the folder is not there either.
    struct TIdentity {
        dev_t Device = 0;
        ino_t Inode = 0;
        std::string Name;   // empty for an existing file
        bool operator==(const TIdentity&) const = default;
    };
    static std::optional<TIdentity> Identity(const TAString& path);
    static bool SameFile(const TAString& a, const TAString& b);

    // Whether the program may rename or remove what path names (after symlinks): only a
    // regular file. Never a folder, a device, a FIFO or a socket.
    static bool MayReplace(const TAString& path);

    // Writes all of data to the open descriptor fd; errno of the failure, or 0. written
    // (when given) receives the bytes written before a failure. A write blocked on a pipe
    // that a signal interrupts (EINTR) fails: the program asked it to stop waiting.
    // A reader of a pipe that went away is EPIPE here, never a SIGPIPE for the process.
    static int WriteAll(int fd, const char* data, std::size_t size, std::size_t* written = nullptr);
};
