#pragma once
// A byte-stream channel to another node, with a send thread and a receive thread.
//
// Use (this is all the simulation driver needs):
//   auto channel = TACommunication::New("RAM 1 2", 24);  // threads already run
//   channel->Write(record, 24);                          // never blocks on the medium
//   size_t got = channel->Read(place, 24);               // what has arrived, possibly 0
//   size_t left = channel->Drain(2000ms);                // waits for the sends to leave
//   channel.reset();                                     // stops and joins both threads
//
// Descriptions: words separated by white space; the first word is the kind (exact case),
// numbers are decimal, words beyond those listed are ignored:
//   "HDD <write file> <read file>"                     file drop in a shared directory
//   "SOC <remote IPv4> <remote port> <local port> <keep>" two one-way TCP connections
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
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class TACommunication {
public:
    // Builds the channel named by the first word; recordSize is the size of the records
    // its streams are made of (at least 1). Throws TACommunicationError("TACommunication::New",
    // "ConfigError") for an unknown kind, an empty description or missing words; number words
    // throw the number parser's errors with a detail that names the field and its value
    // ("SOC remote port '70000' is not a number from 0 to 65535"); the channels' own errors
    // pass out unchanged.
    static std::unique_ptr<TACommunication> New(const TAString& description, size_t recordSize = 1);

    virtual ~TACommunication();
    TACommunication(const TACommunication&) = delete;
    TACommunication& operator=(const TACommunication&) = delete;

    // Appends count bytes to the send buffer and wakes the send thread; returns count. When
    // they do not all fit, nothing is appended, the bytes are counted as refused and 0 is
    // returned. Whole records written this way are sent as whole records.
    size_t Write(const void* bytes, size_t count);
    // Takes at most count bytes from the receive buffer; returns how many it took.
    size_t Read(void* destination, size_t count);
    // Bytes waiting in the receive buffer (whole records only).
    size_t Available() const { return receiveBuffer_.Count(); }

    // Waits until every byte that Write took has been handed to the medium, the thread that
    // sends has ended, or the time is up; returns the bytes not handed over (0: all left).
    size_t Drain(std::chrono::milliseconds limit);
    // Bytes that Write refused because the send buffer was full.
    uint64_t Refused() const { return refused_.load(); }
    // Received bytes dropped because the receive buffer was full (serial port only).
    uint64_t Discarded() const { return discarded_.load(); }
    // The records cut since the last call: how many, and where the last one was cut
    // ("SOC connection from 127.0.0.1:41234 ended 10 bytes into a 24-byte record; ...").
    std::optional<TAString> TakeCutRecords();

    size_t RecordSize() const { return recordSize_; }
    // The channel's description in words ("HDD out.txt in.txt"), for messages.
    virtual TAString Where() const = 0;

    // The error that ended the send or receive thread, if one did.
    std::optional<TBaseError> SendError() const { return sendThread_.Error(); }
    std::optional<TBaseError> ReceiveError() const { return receiveThread_.Error(); }

protected:
    using TPause = std::optional<std::chrono::milliseconds>;
    // sendIdle / receiveIdle: how long an idle step sleeps at most (none: until woken).
    TACommunication(TPause sendIdle, TPause receiveIdle, size_t recordSize);

    // One send step: move bytes from the send buffer towards the medium. Runs on the send thread.
    // Returns true to be called again at once, false to wait for work (Write wakes it).
    virtual bool Send() = 0;
    // One receive step: move bytes from the medium into the receive buffer. Runs on the receive
    // thread. Returns true to be called again at once, false to wait (Read wakes it).
    virtual bool Receive() = 0;
    // Releases whatever a step may be blocked in; called by StopThreads after the stop request.
    virtual void Unblock() {}
    // Lets the data written by Write be noticed; the default wakes the send thread.
    virtual void NotifySendData() { sendThread_.Wake(); }
    // Bytes taken from the send buffer that have not reached the medium yet (the serial
    // port's own queue, a mailbox block nobody has taken).
    virtual size_t HeldBytes() const { return 0; }
    // True once the thread that carries the sends has ended (nothing more will leave).
    virtual bool SendPathEnded() const { return sendThread_.Role() == TAThread::Finished; }

    // One stream of the receive side: the bytes of one connection, one drop or one block.
    // Only the receive thread uses it.
    struct TInbound {
        std::vector<uint8_t> partial;   // the start of a record whose rest has not come yet
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

    void StartThreads(const TAThread::TLauncher& receiveLauncher = nullptr);
    void StopThreads();
    bool IsStopping() const { return stopping_.load(); }
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
    void NoteLoss(std::atomic<uint64_t>& counter, std::atomic<bool>& reported, uint64_t bytes,
                  const char* operation, const char* message, const TAString& detail);

    const size_t recordSize_;
    // Buffers first: they outlive the threads that use them.
    TABuffer receiveBuffer_;
    TABuffer sendBuffer_;
    std::atomic<bool> stopping_{false};
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
