#pragma once
// Extends the IXXAT libraries' 32-bit receive time stamps to 64 bits: when a raw stamp
// is smaller than the one before, the one before is added to the offset. A stamp that
// falls from 5000 to 100 continues at 5100.

#include <cstdint>

class TVciTimeStamp {
public:
    // The extended stamp of raw, in the library's ticks.
    uint64_t Extend(uint32_t raw)
    {
        if (raw < last_) offset_ += last_;
        last_ = raw;
        return offset_ + raw;
    }

private:
    uint32_t last_ = 0;
    uint64_t offset_ = 0;
};
