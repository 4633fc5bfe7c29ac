#pragma once
// Serial channel: "COM <port> <bit rate> <data bits> <parity letter>".
//
// The port (TRs232) belongs to one thread, the channel's receive thread, which carries both
// directions: it hands the send buffer's bytes to the port, takes received bytes (at most
// 4096 per step) into the receive buffer, and otherwise sleeps in poll() on the port and on a
// wake-up descriptor that Write and the destructor signal. The send thread has no work.
//
// Whole records go to the port, and at most PortQueue bytes wait in the port's own queue;
// the rest waits in the send buffer. A serial line cannot hold the peer back: what arrives
// while the receive buffer is full is dropped in whole records and counted (Discarded).
//
// The line is one stream that can lose or gain bytes: it is read record by record with the
// record check, sliding past bytes that make no valid record. A send-only channel (and one
// whose receiving has stopped) takes nothing from the line.
//
// The port is opened on that thread before the constructor returns, so an open failure
// (TRs232Error "ConnectError", naming the port and why: missing, busy, bad settings) passes out of the constructor. A port that fails later (a
// vanished device) ends the thread with TRs232Error("TCommRs232::Receive", "PortError"),
// which is reported; bytes written afterwards stay unsent and Drain counts them.

#include "support/Communication/tacommunication.h"

#include <cstdint>
#include <future>
#include <memory>

class TRs232;

class TCommRs232 final : public TACommunication {
public:
    static constexpr int ReceiveStep = 4096;
    static constexpr size_t PortQueue = 16 * 1024;

    TCommRs232(const TAString& port, uint32_t bitRate, uint8_t dataBits, char parity,
               const TCommOptions& options = {});
    ~TCommRs232() override;

    TAString Where() const override;

    // True once the port has reported an error.
    bool PortFailed() const { return portFailed_.load(); }

protected:
    bool Send() override;
    bool Receive() override;
    void Unblock() override;
    void UnblockReceive() override { Signal(); }
    void NotifySendData() override;
    size_t HeldBytes() const override { return pending_.load(); }
    // The receive thread carries the sends.
    bool SendPathEnded() const override { return ReceivePathEnded(); }

private:
    void Signal();
    void Carry();
    [[noreturn]] void PortFailedError();

    TAString port_;
    uint32_t bitRate_;
    int dataBits_;
    char parity_;
    int wake_ = -1;     // eventfd; Write and Unblock signal it
    std::promise<void> opened_;
    std::unique_ptr<TRs232> rs232_;   // receive thread only
    std::atomic<bool> portFailed_{false};
    bool finalTaken_ = false;          // receive thread: the stop's last look at the line is done
    std::atomic<size_t> pending_{0};   // bytes in the port's queue (receive thread writes)
    TInbound stream_{{}, true, 0, 0};  // receive thread; a line that can lose bytes
};
