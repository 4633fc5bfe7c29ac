#pragma once
// Serial channel: "COM <port> <bit rate> <data bits> <parity letter>".
//
// The port (TRs232) belongs to one thread, the channel's receive thread, which carries both
// directions: it hands the send buffer's bytes to the port, takes received bytes (at most
// 4096 per step) into the receive buffer, and otherwise sleeps in poll() on the port and on a
// wake-up descriptor that Write and the destructor signal. The send thread has no work.
//
// The port is opened on that thread before the constructor returns, so an open failure
// (TRs232Error "ConnectError") passes out of the constructor. Once the port has failed it
// stays unusable: bytes written afterwards are dropped and nothing more is received.

#include "support/Communication/tacommunication.h"

#include <cstdint>
#include <future>
#include <memory>

class TRs232;

class TCommRs232 final : public TACommunication {
public:
    static constexpr int ReceiveStep = 4096;

    TCommRs232(const TAString& port, uint32_t bitRate, uint8_t dataBits, char parity);
    ~TCommRs232() override;

    // True once the port has reported an error.
    bool PortFailed() const { return portFailed_.load(); }

protected:
    bool Send() override;
    bool Receive() override;
    void Unblock() override;
    void NotifySendData() override;

private:
    void Signal();
    void Carry();

    TAString port_;
    uint32_t bitRate_;
    int dataBits_;
    char parity_;
    int wake_ = -1;     // eventfd; Write and Unblock signal it
    std::promise<void> opened_;
    std::unique_ptr<TRs232> rs232_;   // receive thread only
    std::atomic<bool> portFailed_{false};
};
