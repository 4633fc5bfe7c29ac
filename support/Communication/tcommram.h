#pragma once
// Mailbox channel between channels of one process.
//
// All TCommRam objects share one table of 256 slots; each slot is empty or holds one
// block of whole records. The send step waits until its send slot is empty and puts the
// whole records of the send buffer there as one block; the receive step waits until its
// receive slot holds a block and room for it in the receive buffer, then appends it.
// Several senders may share a send slot: each block is one sender's, and the receiver
// takes one block at a time. "RAM 1 2" and "RAM 2 1" talk to each other; "RAM 3 3" talks
// to itself. The table exists while at least one TCommRam does; blocks still in it when
// the last one goes are freed with it.
//
// Closing gives back what was taken but not read: the records still in the receive buffer
// go back into the receive slot, in front of a block that a sender put there meanwhile.
// A send-only channel never takes from its receive slot.
//
// Both waits sleep on their slot's condition variable (no polling) and end at once when
// the channel stops; a receive step that finds no room waits for Read to make some.

#include "support/Communication/tacommunication.h"

#include <cstdint>
#include <memory>
#include <vector>

class TCommRam final : public TACommunication {
public:
    static constexpr int SlotCount = 256;

    TCommRam(uint8_t sendSlot, uint8_t receiveSlot, const TCommOptions& options = {});
    ~TCommRam() override;

    TAString Where() const override;

    struct TTable;

protected:
    bool Send() override;
    bool Receive() override;
    void Unblock() override;
    void UnblockReceive() override;
    void FinalReceive() override;
    // A block of this channel's that still waits in its send slot.
    size_t HeldBytes() const override;

private:
    // A block taken out of the receive slot: its sender is woken, the block is delivered.
    void DeliverTaken(const std::vector<uint8_t>& block);

    std::shared_ptr<TTable> table_;
    uint8_t receiveSlot_;
    uint8_t sendSlot_;
};
