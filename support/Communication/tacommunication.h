#pragma once
// A byte-stream channel to another node, with a send thread and a receive thread.
//
// Use (this is all the simulation driver needs):
//   auto channel = TACommunication::New("RAM 1 2", 24);  // threads already run
//   channel->Write(record, 24);                          // never blocks on the medium
//   size_t got = channel->Read(place, 24);               // what has arrived, possibly 0
//   size_t left = channel->Drain(2000ms);                // waits for the sends to leave
//   channel->StopReceiving();                            // then Read what was taken
//   channel.reset();                                     // stops and joins both threads
//
// Descriptions: words separated by white space; the first word is the kind (exact case),
// numbers are decimal, words beyond those listed are ignored:
//   "HDD <write file> <read file>"                     file drop in a shared directory
//   "SOC <remote host> <remote port> <local port> <keep>" two one-way TCP connections
//   "RAM <send slot 0..255> <receive slot 0..255>"    mailboxes inside this process
//   "COM <port> <bit rate> <data bits> <parity letter>" serial port (1 = /dev/ttyS0, or a path)
//
// Records: every stream is a sequence of records of one size (24 for the simulation
// driver's frame records, 1 for plain bytes). A sender hands the medium only whole
// records: a mailbox block, a drop file and a TCP connection each carry whole records. A
// receiver passes on only whole records, each stream (a connection, a drop, a block) on
// its own, so records of several senders never mix. A stream that ends inside a record
// loses that part, which is noted as a cut record (TakeCutRecords), and the next stream
// starts aligned.
//
// Checks (TCommOptions::Check): a record the check refuses is not passed on but counted;
// a stream that can lose bytes or come from anything (serial, TCP) slides forward byte by
// byte to the next valid record and counts what it skipped. The first of these losses is
// reported through TAThread::Report, and Losses() gives the totals of the whole run.
//
// Closing: StopReceiving first (nothing more is taken from the medium), then Read until
// nothing is left, then destroy. A channel whose medium can take back what it gave (a drop
// file, a mailbox) writes back at its destruction what was taken and not read; the others
// report it as lost. A send-only channel (TCommOptions::SendOnly) never takes anything.
//
// Bounds: the send buffer and the receive buffer hold at most 1 MiB each. Write refuses
// (and counts) what does not fit; a receive step takes from the medium only what fits,
// so the medium holds the rest back (TCP, a drop file left in place, a mailbox left
// full); only the serial port cannot wait, and what it brings beyond the bound is
// dropped in whole records and counted (Discarded). The first refusal and the first
// discard of a channel are reported through TAThread::Report.
//
// Threads: Write and Drain may be called from one producer thread and Read from one
// consumer thread (each buffer has one producer and one consumer); the channel's own send
// thread empties the send buffer and its receive thread fills the receive buffer.
//
// A concrete channel calls StartThreads() as the last step of its constructor and StopThreads()
// as the first step of its destructor, so no thread ever runs a step of a half-built or
// half-destroyed object.

#include "support/Communication/tabuffer.h"
#include "support/Communication/tathread.h"
#include "support/tastring.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// How a channel's streams are made and what the channel does with them.
struct TCommOptions {
    // A record is valid when check says so (none: every record is); a record that is not
    // is refused and counted. Invalid records cannot be told from the bytes of a stream
    // that lost a byte, so a stream that can lose bytes (a serial line) or that may be
    // written by anything (a TCP port) slides forward byte by byte to the next valid record
    // and counts the bytes it skipped.
    //
    // state belongs to one stream and starts at 0; the check may keep what it learns about
    // the stream's sender there (a sender that marks its records marks all of them).
    using TCheck = std::function<bool(const uint8_t* record, uint8_t& state)>;

    // An options value from a record size alone: every record valid, both directions.
    TCommOptions(size_t recordSize = 1) : RecordSize(recordSize) {}   // NOLINT: a size is enough
    TCommOptions(size_t recordSize, TCheck check, bool sendOnly)
        : RecordSize(recordSize), Check(std::move(check)), SendOnly(sendOnly)
    {
    }

    size_t RecordSize = 1;
    TCheck Check;
    // Nothing is ever taken from the medium (no receive side): an entry that only carries
    // the same frames to a further node must not consume what its medium brings.
    bool SendOnly = false;
};

// The losses of a channel's receive side for a whole run.
struct TReceiveLosses {
    uint64_t CutRecords = 0;        // a stream ended inside a record
    uint64_t InvalidRecords = 0;    // refused by the record check
    uint64_t SkippedBytes = 0;      // slid over to find the next valid record
    uint64_t DiscardedBytes = 0;    // arrived while the receive buffer was full (serial only)
    uint64_t RefusedDrops = 0;      // files left in place at an HDD read name
    bool Any() const { return CutRecords + InvalidRecords + SkippedBytes + DiscardedBytes + RefusedDrops > 0; }
    // "3 cut records, 2 invalid records refused, 17 bytes skipped ..."; empty when none.
    TAString Text() const;
};

class TACommunication {
public:
    // Builds the channel named by the first word; recordSize is the size of the records
    // its streams are made of (at least 1). Throws TACommunicationError("TACommunication::New",
    // "ConfigError") for an unknown kind, an empty description or missing words; number words
    // throw the number parser's errors with a detail that names the field and its value
    // ("SOC remote port '70000' is not a number from 0 to 65535"); the channels' own errors
    // pass out unchanged.
    // Port words are whole numbers from 1 to 65535 (0 is refused: a peer must connect to it);
    // SOC's remote address is a host name or an IPv4 or IPv6 literal.
    static std::unique_ptr<TACommunication> New(const TAString& description, const TCommOptions& options = {});

    virtual ~TACommunication();
    TACommunication(const TACommunication&) = delete;
    TACommunication& operator=(const TACommunication&) = delete;

    // Appends count bytes to the send buffer and wakes the send thread; returns count. When
    // they do not all fit, nothing is appended, the bytes are counted as refused and 0 is
    // returned. Whole records written this way are sent as whole records.
    size_t Write(const void* bytes, size_t count);
    // How Offer went: the medium took the bytes (a socket accepted them: they have left),
    // they wait in the send buffer for the send thread, or nothing was taken (Busy:
    // back-pressure, offer them again later).
    enum class TOffer { Taken, Queued, Busy };
    // Offers whole records to the medium from the calling thread (the producer), without
    // waiting and without a lock that another thread holds while it waits: a medium that
    // can take bytes from here (a connected TCP channel that keeps its connection) is
    // written directly; while it cannot take them now the answer is Busy and nothing is
    // kept. A medium that cannot be written from here queues them as Write does (Queued),
    // as long as fewer than queueLimit bytes wait in the send buffer (Busy otherwise).
    TOffer Offer(const void* bytes, size_t count, size_t queueLimit = TABuffer::DefaultLimit);
    // Takes at most count bytes from the receive buffer; returns how many it took.
    size_t Read(void* destination, size_t count);
    // Bytes waiting in the receive buffer (whole records only).
    size_t Available() const { return receiveBuffer_.Count(); }

    // Waits until every byte that Write took has been handed to the medium, the thread that
    // sends has ended, or the time is up; returns the bytes not handed over (0: all left).
    size_t Drain(std::chrono::milliseconds limit);
    // Bytes that Write refused because the send buffer was full.
    uint64_t Refused() const { return refused_.load(); }
    // Bytes Write took that the send thread has not handed to the medium yet (producer
    // side: tells a writer to hold back instead of queueing without bound).
    size_t SendWaiting() const { return sendBuffer_.Count(); }
    // Received bytes dropped because the receive buffer was full (serial port only).
    uint64_t Discarded() const { return discarded_.load(); }
    // The records cut since the last call: how many, and where the last one was cut
    // ("SOC connection from 127.0.0.1:41234 ended 10 bytes into a 24-byte record; ...").
    std::optional<TAString> TakeCutRecords();

    size_t RecordSize() const { return recordSize_; }
    bool SendOnly() const { return sendOnly_; }

    // Closing in order: stops taking from the medium and waits until the receive side has
    // stopped; what it has taken stays in the receive buffer for Read. What Read has not
    // taken when the channel is destroyed goes back to the medium where the medium can
    // hold it (a drop file, a mailbox); elsewhere it is lost and Unread() says how much.
    // Called once, from the thread that reads.
    void StopReceiving();
    // An eventfd (or any descriptor a write of 8 bytes counts on) that the receive side
    // writes 1 to whenever records have come into the receive buffer, so that a reader can
    // sleep until then instead of polling; -1 (the default): none. The caller keeps it
    // open for the channel's lifetime.
    void SetArrivalHandle(int handle) { arrivalHandle_.store(handle, std::memory_order_release); }
    // The receive side's losses so far, for the totals at the end of a run.
    TReceiveLosses Losses() const;
    // The channel's description in words ("HDD out.txt in.txt"), for messages.
    virtual TAString Where() const = 0;

    // The error that ended the send or receive thread, if one did.
    std::optional<TBaseError> SendError() const { return sendThread_.Error(); }
    std::optional<TBaseError> ReceiveError() const { return receiveThread_.Error(); }

protected:
    using TPause = std::optional<std::chrono::milliseconds>;
    // sendIdle / receiveIdle: how long an idle step sleeps at most (none: until woken).
    TACommunication(TPause sendIdle, TPause receiveIdle, const TCommOptions& options);

    // One send step: move bytes from the send buffer towards the medium. Runs on the send thread.
    // Returns true to be called again at once, false to wait for work (Write wakes it).
    virtual bool Send() = 0;
    // One receive step: move bytes from the medium into the receive buffer. Runs on the receive
    // thread. Returns true to be called again at once, false to wait (Read wakes it).
    virtual bool Receive() = 0;
    // Releases whatever a step may be blocked in; called by StopThreads after the stop request.
    virtual void Unblock() {}
    // Releases whatever the receive step may be blocked in; called by StopReceiving after
    // ReceiveStopping() has become true (a thread's own pause ends by itself).
    virtual void UnblockReceive() {}
    // Called by StopReceiving once the receive thread has ended: takes, without waiting,
    // what the medium holds for this channel now and fits (a drop just published, bytes a
    // connection has brought), so that what was delivered just before the stop is not left
    // behind. The default takes nothing.
    virtual void FinalReceive() {}
    // Lets the data written by Write (or a Drain's wish) be noticed; called on the producer's
    // thread after the bytes are in the send buffer. The default wakes the send thread.
    virtual void NotifySendData() { sendThread_.Wake(); }
    // Offer's direct path: the medium's answer when it can be written from the producer's
    // thread now (Taken or Busy), nothing when it cannot (Offer then queues). The default
    // never writes directly.
    virtual std::optional<TOffer> OfferDirect(const void* bytes, size_t count)
    {
        (void)bytes;
        (void)count;
        return std::nullopt;
    }
    // Wakes the send thread (a channel's own reasons: a connection is wanted, the medium
    // is handed back to it).
    void WakeSend() { sendThread_.Wake(); }
    // Bytes taken from the send buffer that have not reached the medium yet (the serial
    // port's own queue, a mailbox block nobody has taken).
    virtual size_t HeldBytes() const { return 0; }
    // True once the thread that carries the sends has ended (nothing more will leave).
    virtual bool SendPathEnded() const { return sendThread_.Role() == TAThread::Finished; }

    // One stream of the receive side: the bytes of one connection, one drop or one block.
    // Only the receive thread uses it.
    struct TInbound {
        std::vector<uint8_t> partial;   // the start of a record whose rest has not come yet
        // Slide forward byte by byte past invalid bytes (a byte stream), instead of refusing
        // whole records (a drop, a block).
        bool resync = false;
        uint64_t skipping = 0;          // bytes skipped in a row, reported when a valid record follows
        uint8_t checkState = 0;         // the record check's own knowledge of this stream
    };
    // How many bytes may be taken from the medium for stream now so that every record they
    // complete fits into the receive buffer.
    size_t MayReceive(const TInbound& stream) const;
    // Passes n bytes of stream on: the records they complete go into the receive buffer,
    // each whole; the rest waits in the stream. Records that do not fit are dropped and
    // counted (Discarded); callers on media that can wait ask MayReceive first.
    void Deliver(TInbound& stream, const uint8_t* bytes, size_t n);
    // The stream has ended (where: "SOC connection from 127.0.0.1:41234"): part of a record
    // that it still holds is dropped and noted as a cut record.
    void EndStream(TInbound& stream, const TAString& where);

    // Whether record is one the channel accepts.
    bool RecordValid(const uint8_t* record, uint8_t& state) const { return !check_ || check_(record, state); }
    bool ChecksRecords() const { return static_cast<bool>(check_); }
    // A file left at an HDD read name, counted and reported once.
    void NoteRefusedDrop(const TBaseError& error);
    // The receive side's losses, stated once per kind as they happen (TAThread::Report).
    void NoteInvalid(uint64_t records, uint64_t skipped, const TAString& where);

    // receiveThread: start the receive thread even for a send-only channel (it carries the
    // sends of a serial port).
    void StartThreads(const TAThread::TLauncher& receiveLauncher = nullptr, bool receiveThread = false);
    void StopThreads();
    // For a medium that cannot take back what was taken: reports the records still unread.
    // Called by the destructor after StopThreads.
    void ReportUnread();
    bool IsStopping() const { return stopping_.load(); }
    // True once the receive side is to stop taking from the medium (or the channel stops).
    bool ReceiveStopping() const { return stopping_.load() || receiveStopping_.load(); }
    // For a receive thread that also carries the sends: true when it must take nothing more
    // from the medium; the first true lets StopReceiving return.
    bool ReceiveStopped();
    // Stop-aware sleeps for the steps of each thread; false when the channel is stopping.
    bool PauseSend(std::chrono::milliseconds time) { return sendThread_.Pause(time); }
    bool PauseReceive(std::chrono::milliseconds time) { return receiveThread_.Pause(time); }
    void WakeReceive() { receiveThread_.Wake(); }
    bool ReceivePathEnded() const { return receiveThread_.Role() == TAThread::Finished; }
    // Wakes a Drain: the send side has moved bytes (or its thread has ended).
    void NoteSendProgress();

    TABuffer& SendBuffer() { return sendBuffer_; }
    const TABuffer& SendBuffer() const { return sendBuffer_; }
    TABuffer& ReceiveBuffer() { return receiveBuffer_; }

private:
    size_t Undelivered() const { return sendBuffer_.Count() + HeldBytes(); }
    void DeliverChecked(TInbound& stream, const uint8_t* bytes, size_t n);
    // Puts whole records into the receive buffer as far as they fit; returns the bytes dropped.
    size_t Put(const uint8_t* records, size_t size);
    void NoteDropped(size_t dropped);
    void NoteLoss(std::atomic<uint64_t>& counter, std::atomic<bool>& reported, uint64_t bytes,
                  const char* operation, const char* message, const TAString& detail);

    const size_t recordSize_;
    const TCommOptions::TCheck check_;
    const bool sendOnly_;
    // Buffers first: they outlive the threads that use them.
    TABuffer receiveBuffer_;
    TABuffer sendBuffer_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> arrivalHandle_{-1};
    std::atomic<bool> receiveStopping_{false};
    std::atomic<bool> receiveStopped_{false};
    bool receiveCarriesSends_ = false;
    std::atomic<uint64_t> invalid_{0};
    std::atomic<uint64_t> skipped_{0};
    std::atomic<uint64_t> cutTotal_{0};
    std::atomic<uint64_t> refusedDrops_{0};
    std::atomic<bool> invalidReported_{false};
    std::atomic<bool> dropReported_{false};
    std::atomic<uint64_t> refused_{0};
    std::atomic<uint64_t> discarded_{0};
    std::atomic<bool> refusalReported_{false};
    std::atomic<bool> discardReported_{false};
    // Cut records since the last TakeCutRecords, and what the last one was.
    std::mutex cutMutex_;
    uint64_t cutRecords_ = 0;
    TAString lastCut_;
    // Drain waits here; the send side notifies after every step.
    std::mutex progressMutex_;
    std::condition_variable progress_;
    TAThread sendThread_;
    TAThread receiveThread_;
};
