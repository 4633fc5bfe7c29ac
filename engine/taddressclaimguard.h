#pragma once
// The channel the transmit buffer writes to: passes every frame on to the open channel
// until the address claim is lost. From then on every frame that falls due, except
// those sent from the null address 254 (Cannot Claim), is withdrawn: it never reaches
// the medium. The next run withdraws what of the lost one is still left (due before
// its own first frame) and lets its own frames pass. The buffer sees a withdrawn frame
// taken and reports it as a departure like any other; the engine asks TakeWithdrawn for
// each departure, in the order they fell due, and neither counts nor logs the withdrawn
// ones as sent.
//
// Threads: TryWrite and Write run on the transmit timer's thread; WithdrawBefore and
// TakeWithdrawn on the engine's. The withdrawn frames are handed over through a
// single-producer, single-consumer ring; when it is full the guard refuses the frame for
// the moment (back-pressure), so no withdrawal goes untold.

#include "can/tcanchannel.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>

class TAddressClaimGuard final : public TCanChannel {
public:
    static constexpr uint8_t NullAddress = 254;
    static constexpr int RingSize = 512;   // > the transmit buffer's two lanes together

    explicit TAddressClaimGuard(TCanChannel& inner) : inner_(inner) {}

    TCanChannel& Inner() const { return inner_; }

    TCanFrame Read() override { return inner_.Read(); }
    void Write(const TCanFrame& frame) override;
    bool TryWrite(const TCanFrame& frame) override;

    // Frames due before due (µs, the time source's scale) are withdrawn from the next one
    // on, except Cannot Claim: the address is lost (NoLimit), or a new run starts and
    // the lost run's frames still have to go.
    static constexpr int64_t NoLimit = std::numeric_limits<int64_t>::max();
    void WithdrawBefore(int64_t due) { withdrawBefore_.store(due, std::memory_order_release); }

    // Whether the departure of frame (as the buffer wrote it, its due time) was a
    // withdrawal; the departures must be asked in the order the buffer reports them.
    bool TakeWithdrawn(const TCanFrame& frame, int64_t due);

private:
    struct TRecord {
        uint32_t Id = 0;
        int64_t Due = 0;
    };
    // Whether frame is withdrawn; false when the ring is full (it is offered again).
    bool Withholds(const TCanFrame& frame, bool& full);

    TCanChannel& inner_;
    static constexpr int64_t Nothing = std::numeric_limits<int64_t>::min();
    std::atomic<int64_t> withdrawBefore_{Nothing};
    std::array<TRecord, RingSize> records_{};
    std::atomic<uint32_t> write_{0};   // advanced by the timer thread only
    std::atomic<uint32_t> read_{0};    // advanced by the engine's thread only
};
