#pragma once
// The other node of an in-memory simulation channel: takes everything that arrives on
// its communication channel on a thread of its own, so the sending side never waits
// for a full mailbox. Counts the 24-byte records it took.

#include "support/Communication/tacommunication.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace bench {

class TRamReader {
public:
    explicit TRamReader(const char* description) : comm_(TACommunication::New(description))
    {
        thread_ = std::thread([this] { Loop(); });
    }
    ~TRamReader()
    {
        stop_.store(true);
        thread_.join();
    }
    TRamReader(const TRamReader&) = delete;
    TRamReader& operator=(const TRamReader&) = delete;

    long Records() const { return bytes_.load() / 24; }

private:
    void Loop()
    {
        char block[4096];
        while (!stop_.load()) {
            const int got = comm_->Read(block, sizeof block);
            if (got > 0) {
                bytes_.fetch_add(got);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }

    std::unique_ptr<TACommunication> comm_;
    std::atomic<bool> stop_{false};
    std::atomic<long> bytes_{0};
    std::thread thread_;
};

}  // namespace bench
