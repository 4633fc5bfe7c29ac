#pragma once
// A byte-stream channel to another node, with a send thread and a receive thread.
//
// Use (this is all the simulation driver needs):
//   auto channel = TACommunication::New("RAM 1 2");   // threads already run
//   channel->Write(record, 24);                       // never blocks on the medium
//   int got = channel->Read(place, 24);               // what has arrived, possibly 0
//   channel.reset();                                  // stops and joins both threads
//
// Descriptions: words separated by white space; the first word is the kind (exact case),
// numbers are decimal, words beyond those listed are ignored:
//   "HDD <write file> <read file>"                     file drop in a shared directory
//   "SOC <remote IPv4> <remote port> <local port> <keep>" two one-way TCP connections
//   "RAM <send slot 0..255> <receive slot 0..255>"    mailboxes inside this process
//   "COM <port> <bit rate> <data bits> <parity letter>" serial port (1 = /dev/ttyS0, or a path)
//
// Threads: Write may be called from one producer thread and Read from one consumer thread
// (each buffer has one producer and one consumer); the channel's own send thread empties the
// send buffer and its receive thread fills the receive buffer.
//
// A concrete channel calls StartThreads() as the last step of its constructor and StopThreads()
// as the first step of its destructor, so no thread ever runs a step of a half-built or
// half-destroyed object.

#include "support/Communication/tabuffer.h"
#include "support/Communication/tathread.h"
#include "support/tastring.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

class TACommunication {
public:
    // Builds the channel named by the first word. Throws TACommunicationError("TACommunication::New",
    // "ConfigError") for an unknown kind, an empty description or missing words; number words
    // throw the number parser's errors; the channels' own errors pass out unchanged.
    static std::unique_ptr<TACommunication> New(const TAString& description);

    virtual ~TACommunication();
    TACommunication(const TACommunication&) = delete;
    TACommunication& operator=(const TACommunication&) = delete;

    // Appends count bytes to the send buffer and wakes the send thread; returns count.
    int Write(const void* bytes, int count);
    // Takes at most count bytes from the receive buffer; returns how many it took.
    int Read(void* destination, int count);
    // Bytes waiting in the receive buffer.
    int Available() const { return receiveBuffer_.Count(); }

    // The error that ended the send or receive thread, if one did.
    std::optional<TBaseError> SendError() const { return sendThread_.Error(); }
    std::optional<TBaseError> ReceiveError() const { return receiveThread_.Error(); }

protected:
    using TPause = std::optional<std::chrono::milliseconds>;
    // sendIdle / receiveIdle: how long an idle step sleeps at most (none: until woken).
    TACommunication(TPause sendIdle, TPause receiveIdle);

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

    void StartThreads(const TAThread::TLauncher& receiveLauncher = nullptr);
    void StopThreads();
    bool IsStopping() const { return stopping_.load(); }
    // Stop-aware sleeps for the steps of each thread; false when the channel is stopping.
    bool PauseSend(std::chrono::milliseconds time) { return sendThread_.Pause(time); }
    bool PauseReceive(std::chrono::milliseconds time) { return receiveThread_.Pause(time); }
    void WakeReceive() { receiveThread_.Wake(); }

    TABuffer& SendBuffer() { return sendBuffer_; }
    TABuffer& ReceiveBuffer() { return receiveBuffer_; }

private:
    // Buffers first: they outlive the threads that use them.
    TABuffer receiveBuffer_;
    TABuffer sendBuffer_;
    std::atomic<bool> stopping_{false};
    TAThread sendThread_;
    TAThread receiveThread_;
};
