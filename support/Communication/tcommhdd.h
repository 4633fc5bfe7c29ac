#pragma once
// File-drop channel: the medium is a directory that both nodes see.
//
// The sender writes whole records of its send buffer to a temporary file of its own, made
// under an unpredictable name in the write name's folder ("<write name>WR.<random>",
// created O_CREAT|O_EXCL|O_NOFOLLOW: a file or link planted there is never written
// through), and then gives that file the write name, but only while no file of that name
// exists (renameat2 with RENAME_NOREPLACE, or link and unlink where the file system lacks
// it): a drop still waiting is never replaced, so several senders may share one write name
// and each drop arrives whole. The bytes stay in the send buffer until their drop carries
// the write name.
//
// A drop that cannot be written says why, once for each reason, with the folder: a full
// disk (ENOSPC, EDQUOT, EFBIG), a missing folder (ENOENT), no permission (EACCES). On a
// full disk the drop is halved until what fits is published; the rest waits and is tried
// again (a full drop again once the disk has room).
//
// The receiver takes the file <read name> into its receive buffer and deletes it, but only
// a regular file owned by this user in which every whole record passes the record check
// (TCommOptions::Check); anything else (a symbolic link, another user's file, a file that
// is not records) is left in place and reported once. A drop stays where it is until the
// receive buffer has room for all of it (the sender meanwhile waits); a drop larger than
// the receive buffer is taken in pieces as room is made. A drop that ends inside a record
// loses that part (a cut record).
//
// Closing gives back what was taken but not read: the records still in the receive buffer,
// the start of a record and the rest of a drop being taken are written back, in their
// order, as one drop under the read name. A drop a peer published there meanwhile is never
// replaced: it is taken and put behind them.
//
// A read name that is a FIFO is read as a stream instead: the channel keeps it open for
// reading, what is written to it arrives as it comes, the stream ends (part of a record left
// then is a cut record) whenever no program holds it open for writing, and the FIFO is
// never deleted. Opening and reading it never wait, so a FIFO without a writer holds up neither a close
// nor the end of the program. A read name that is neither a regular file nor a FIFO (a
// device, a socket) ends the receive thread with "unknown-Fatal-Error" (reported).
//
// "HDD a.txt a.txt" talks to itself; "HDD a b" and "HDD b a" to each other. The receive
// thread looks for a drop every 20 ms; the send thread sleeps until bytes are written and,
// while the last drop has not been taken, looks every 20 ms. A write or read name that is
// a directory, and a write name that is anything but a regular file, end that thread with
// "unknown-Fatal-Error" (reported).

#include "support/Communication/tacommunication.h"

#include <functional>
#include <sys/types.h>
#include <vector>

class TCommHDD final : public TACommunication {
public:
    static constexpr int PieceSize = 1024;

    // Test seam for the disk: called before each write into a temporary file with the size
    // the file would have after it; a result other than 0 fails that write (or, for size 0,
    // the file's creation) with that errno. A channel keeps the fault set when it was made.
    using TWriteFault = std::function<int(size_t fileBytes)>;
    static void SetWriteFault(TWriteFault fault);

    TCommHDD(const TAString& writeName, const TAString& readName, const TCommOptions& options = {});
    ~TCommHDD() override;

    TAString Where() const override { return "HDD " + writeName_ + " " + readName_; }

protected:
    bool Send() override;
    bool Receive() override;
    void FinalReceive() override;

private:
    enum class TPublish { Done, Waiting, Failed };
    // 0, or the errno that stopped it.
    int WriteTemporary(size_t count);
    int WriteFile(int file, const uint8_t* bytes, size_t count, size_t already);
    TPublish Publish();
    void ReportSendFailure(int code);
    bool FifoWithoutWriter();
    // Whether the opened regular drop may be taken; reports it once when not.
    bool Acceptable(const struct stat& info);
    void RemoveDrop();
    void GiveBack();

    TAString readName_;
    TAString writeName_;
    TAString tempName_;
    TWriteFault fault_;
    // Send thread: bytes in the temporary file, waiting to be published (0: none); the most
    // a drop may hold now (smaller after a full disk); the reasons reported (each once).
    size_t tempBytes_ = 0;
    size_t dropLimit_;
    std::vector<int> reported_;
    // Receive thread: the drop being taken (-1: none) and how much of it was taken.
    int drop_ = -1;
    bool fifo_ = false;   // the read name is a FIFO: read as a stream, never deleted
    bool finalPass_ = false;   // FinalReceive runs the receive step once more
    // The last file left in place (device, inode, size, change time), so it is told once.
    struct TFileId {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        long changed = 0;
        bool operator==(const TFileId&) const = default;
    } refused_;
    TInbound stream_;
    std::vector<uint8_t> piece_;
};
