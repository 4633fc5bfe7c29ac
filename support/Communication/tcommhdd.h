#pragma once
// File-drop channel: the medium is a directory that both nodes see.
//
// The sender writes its bytes to "<write name>WR" and renames that file to <write name>
// once complete, so the reader never sees a partial drop; it waits while the previous
// drop still exists. The receiver appends the whole file <read name> to its receive
// buffer and deletes it. "HDD a.txt a.txt" talks to itself; "HDD a b" and "HDD b a" to
// each other. The receive thread looks for a drop every 20 ms; the send thread sleeps until
// bytes are written and, while the peer has not taken the last drop, looks every 20 ms.

#include "support/Communication/tacommunication.h"

class TCommHDD final : public TACommunication {
public:
    static constexpr int PieceSize = 1024;

    TCommHDD(const TAString& writeName, const TAString& readName);
    ~TCommHDD() override;

protected:
    bool Send() override;
    bool Receive() override;

private:
    TAString readName_;
    TAString writeName_;
};
