#pragma once
// A simulation CAN channel: frames travel as 24-byte records (TSimFrameRecord) over
// up to MaxEntries communication channels. Entry 0 is written and read (normally the
// node's own); entries 1 to 7 are only written, carrying the same frames to further
// nodes: they have no receive side and never take what their medium brings.
//
// The text is the channel description after "Simulation ": communication
// descriptions separated by commas, for example "RAM 1 2,RAM 2 1". Entry j is made
// from the text from its description's start to the end with every comma turned
// into a blank (the communication factory reads only the words it needs). Entries
// beyond MaxEntries are ignored; an empty entry (an empty text, a trailing comma)
// fails in the factory with its configuration error.
//
// Every entry carries records of TSimFrameRecord::Size bytes (the default factory makes
// them so): entries send whole records only and pass on only whole records received, and
// only valid ones (TSimFrameRecord::Valid); a byte stream slides to the next valid record.
//
// Threads: Write and TryWrite on the transmit timer's thread (Write only appends to send
// buffers; TryWrite may write a socket without waiting), Drain on the thread that closes
// the channel once no Write is under way, Read on the window thread (it only takes from
// entry 0's receive buffer).

#include "can/tcanchannel.h"
#include "can/sim/tsimframerecord.h"
#include "support/Communication/tacommunication.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TCanChannelSim : public TCanChannel {
public:
    static constexpr int MaxEntries = 8;
    // Makes one communication channel from its description (send-only for entries after
    // the first); throws on failure.
    using CommFactory =
        std::function<std::unique_ptr<TACommunication>(const TAString& description, bool sendOnly)>;
    // Microseconds on the reader's clock; stamps every frame that Read returns.
    using Clock = std::function<int64_t()>;

    // With TACommunication::New and the monotonic clock.
    explicit TCanChannelSim(const TAString& text);
    TCanChannelSim(const TAString& text, CommFactory factory, Clock clock);
    // Deletes the communication channels in entry order.
    ~TCanChannelSim() override;

    // The next record from entry 0 with its time replaced by the clock's now; a frame
    // with Id NoFrameId while no whole record has arrived. When a stream of entry 0 (a
    // connection, a drop) ended inside a record since the last Read, throws
    // TBaseError("TCanChannelSim::Read", "FrameError") first, with a detail that says
    // where; the cut bytes are gone and the records after them come whole.
    TCanFrame Read() override;
    // Appends the frame's record to every entry's send buffer, in entry order. An entry
    // whose send buffer is full refuses the record; Drain counts it.
    void Write(const TCanFrame& frame) override;
    // The frame's record for every entry, or for none. Entry 0 is offered the record
    // first (TACommunication::Offer): a medium written from this thread (a kept TCP
    // connection) has taken it when this returns true, so the caller's departure time is
    // after the medium accepted it; false when it cannot take it now (back-pressure,
    // nothing kept). Other media queue it for their send threads: false while any entry
    // still holds MaxWaitingRecords records its send thread has not handed to the medium.
    // So a frame counts as taken only when the medium keeps up, and nothing piles up in
    // front of a medium that nobody reads.
    bool TryWrite(const TCanFrame& frame) override;
    static constexpr size_t MaxWaitingRecords = 64;
    // Waits at most limit, for all entries together, for their records to leave; the
    // frames not delivered, counted per entry (a frame two entries could not deliver
    // counts twice).
    uint64_t Drain(std::chrono::milliseconds limit) override;

    // Entry 0 stops taking from its medium; what it took stays for Read.
    void StopReceiving() override;
    // Entry 0's losses: cut records, invalid records, skipped and dropped bytes.
    std::optional<TBaseError> ReceiveLosses() const override;

    // Readable once entry 0 has received records (see TCanChannel::ArrivalHandle).
    int ArrivalHandle() const override { return arrival_; }

    int EntryCount() const { return static_cast<int>(entries_.size()); }

    static CommFactory DefaultFactory();
    static Clock DefaultClock();

private:
    std::vector<std::unique_ptr<TACommunication>> entries_;
    Clock clock_;
    int arrival_ = -1;   // eventfd, written by entry 0's receive side
};
