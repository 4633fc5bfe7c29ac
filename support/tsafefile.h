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
#include <optional>

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

    // Writes all of data to the open descriptor fd; errno of the failure, or 0. written
    // (when given) receives the bytes written before a failure. A write blocked on a pipe
    // that a signal interrupts (EINTR) fails: the program asked it to stop waiting.
    // A reader of a pipe that went away is EPIPE here, never a SIGPIPE for the process.
    static int WriteAll(int fd, const char* data, std::size_t size, std::size_t* written = nullptr);
};
