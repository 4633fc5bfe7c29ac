#pragma once
// A serial port (QSerialPort) used through blocking calls only, from one thread.
//
// The port belongs to the thread that constructs this object: every call, the destructor
// included, must come from that thread (QSerialPort is a QObject with thread affinity).
// Once the port has reported an error (a read or write failure, a vanished device) it stays
// unusable: Read and Write return -1 from then on.

#include "support/tastring.h"

#include <cstdint>
#include <memory>

class QSerialPort;

class TRs232 {
public:
    // port: a number n for /dev/ttyS(n-1), or a device path (a word with "/").
    // Framing: dataBits 5 to 8, parity letter N, E, O, M or S (either case), one stop bit.
    // Throws TRs232Error("TRs232::TRs232", "ConnectError") when the port does not open with
    // these settings.
    TRs232(const TAString& port, uint32_t bitRate, int dataBits, char parity);
    ~TRs232();
    TRs232(const TRs232&) = delete;
    TRs232& operator=(const TRs232&) = delete;

    // The device for a port word: "1" is "/dev/ttyS0", "/dev/pts/3" stays; "" for a word
    // that is neither a number from 1 nor a path.
    static TAString DevicePath(const TAString& port);

    // Hands count bytes to the port; returns count, or -1 once the port has failed.
    int Write(const void* bytes, int count);
    // Takes at most count received bytes; returns how many (0 = none yet), or -1 once failed.
    int Read(void* destination, int count);
    // Moves bytes handed over by Write towards the device as far as it takes them now.
    void Flush();
    // Bytes handed over by Write that the device has not taken yet.
    int64_t Pending() const;
    bool Failed() const { return failed_; }
    // The port's own words for its last error ("Resource temporarily unavailable").
    TAString ErrorText() const;
    // The descriptor to wait on (readable: bytes arrived; writable: Flush can go on).
    int Handle() const;

private:
    bool Check();

    std::unique_ptr<QSerialPort> port_;
    bool failed_ = false;
};
