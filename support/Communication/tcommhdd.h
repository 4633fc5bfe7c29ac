#pragma once
// File-drop channel: the medium is a directory that both nodes see.
//
// The sender writes the whole records of its send buffer to a temporary file of its own
// ("<write name>WR.<host>.<process>.<n>") and then gives that file the write name, but only
// while no file of that name exists (renameat2 with RENAME_NOREPLACE, or link and unlink
// where the file system lacks it): a drop still waiting is never replaced, so several
// senders may share one write name and each drop arrives whole. The bytes stay in the send
// buffer until their drop carries the write name.
//
// The receiver takes the file <read name> into its receive buffer and deletes it. A drop
// stays where it is until the receive buffer has room for all of it (the sender meanwhile
// waits); a drop larger than the receive buffer is taken in pieces as room is made, and
// one that is still partly taken when the channel closes is written back, holding just
// what was not taken. A drop that ends inside a record loses that part (a cut record).
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

#include <vector>

class TCommHDD final : public TACommunication {
public:
    static constexpr int PieceSize = 1024;

    TCommHDD(const TAString& writeName, const TAString& readName, size_t recordSize = 1);
    ~TCommHDD() override;

    TAString Where() const override { return "HDD " + writeName_ + " " + readName_; }

protected:
    bool Send() override;
    bool Receive() override;

private:
    enum class TPublish { Done, Waiting, Failed };
    bool WriteTemporary(size_t count);
    TPublish Publish();
    bool FifoWithoutWriter();
    void RemoveDrop();
    void PutBackDrop();

    TAString readName_;
    TAString writeName_;
    TAString tempName_;
    // Send thread: bytes in the temporary file, waiting to be published (0: none).
    size_t tempBytes_ = 0;
    // Receive thread: the drop being taken (-1: none) and how much of it was taken.
    int drop_ = -1;
    bool fifo_ = false;   // the read name is a FIFO: read as a stream, never deleted
    TInbound stream_;
    std::vector<uint8_t> piece_;
};
