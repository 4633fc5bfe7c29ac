// One-way latency of the simulation channel: a frame written on one node until it is
// read on the other, in the same process, for the in-memory ("RAM") and the TCP
// ("SOC", 127.0.0.1 only) communication channels. One frame is in flight at a time,
// frames 1 ms apart. Baseline: a round trip through two plain pipes and an echo
// thread in the same process.
//
// Usage: channel_latency [--frames 2000]

#include "bench/benchutil.h"
#include "can/sim/tcanchannelsim.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>

using namespace bench;

namespace {

TCanFrame Stamped(int64_t nanos)
{
    TCanFrame frame;
    frame.Id = 0x18FEF100;
    frame.Dlc = 8;
    std::memcpy(frame.Data.data(), &nanos, sizeof nanos);
    return frame;
}

// The frame that arrives next on reader, waiting at most timeoutMs.
std::optional<TCanFrame> Await(TCanChannel& reader, int timeoutMs)
{
    const int64_t end = NowNanos() + static_cast<int64_t>(timeoutMs) * 1000000;
    while (NowNanos() < end) {
        const TCanFrame frame = reader.Read();
        if (!frame.IsNone()) return frame;
        std::this_thread::yield();
    }
    return std::nullopt;
}

// Latencies in ms of frames written on a and read on b.
std::vector<double> Measure(const char* name, TCanChannel& a, TCanChannel& b, int frames)
{
    // Until the first frame comes through (a TCP channel connects on its first send).
    bool through = false;
    for (int i = 0; i < 50 && !through; ++i) {
        a.Write(Stamped(NowNanos()));
        through = Await(b, 100).has_value();
    }
    if (!through) throw TBaseError("channel_latency", std::string(name) + ": no frame came through");
    while (Await(b, 50)) {
    }
    std::vector<double> latency;
    int lost = 0;
    for (int i = 0; i < frames; ++i) {
        const int64_t sent = NowNanos();
        a.Write(Stamped(sent));
        const std::optional<TCanFrame> got = Await(b, 1000);
        const int64_t now = NowNanos();
        if (!got) {
            ++lost;
            continue;
        }
        int64_t stamp = 0;
        std::memcpy(&stamp, got->Data.data(), sizeof stamp);
        if (stamp == sent) latency.push_back(static_cast<double>(now - sent) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (lost > 0) std::printf("  %s: %d frames did not arrive within 1 s\n", name, lost);
    return latency;
}

class TPipe {
public:
    TPipe()
    {
        if (pipe(fd_) != 0) throw TBaseError("TPipe", "pipe");
    }
    ~TPipe()
    {
        close(fd_[0]);
        close(fd_[1]);
    }
    TPipe(const TPipe&) = delete;
    TPipe& operator=(const TPipe&) = delete;
    int ReadEnd() const { return fd_[0]; }
    int WriteEnd() const { return fd_[1]; }
    void CloseWrite()
    {
        close(fd_[1]);
        fd_[1] = -1;
    }

private:
    int fd_[2];
};

bool ReadAll(int fd, void* to, size_t size)
{
    auto* p = static_cast<char*>(to);
    while (size > 0) {
        const ssize_t got = read(fd, p, size);
        if (got <= 0) return false;
        p += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// Round trips in ms of 24 bytes (a frame record's size) through two pipes.
std::vector<double> PipeRoundTrips(int count)
{
    std::vector<double> trips;
    TPipe there;
    TPipe back;
    std::thread echo([&] {
        char record[24];
        while (ReadAll(there.ReadEnd(), record, sizeof record))
            if (write(back.WriteEnd(), record, sizeof record) != static_cast<ssize_t>(sizeof record)) return;
    });
    char record[24] = {};
    for (int i = 0; i < count; ++i) {
        const int64_t sent = NowNanos();
        if (write(there.WriteEnd(), record, sizeof record) != static_cast<ssize_t>(sizeof record)) break;
        if (!ReadAll(back.ReadEnd(), record, sizeof record)) break;
        trips.push_back(static_cast<double>(NowNanos() - sent) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    there.CloseWrite();
    echo.join();
    return trips;
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const int frames = static_cast<int>(flags.Number("--frames", 2000));
    try {
        std::printf("channel_latency: %d frames, one in flight, 1 ms apart\n", frames);
        std::fflush(stdout);
        TStats ram;
        {
            TCanChannelSim a("RAM 41 42");
            TCanChannelSim b("RAM 42 41");
            ram = Summarise(Measure("RAM", a, b, frames));
        }
        TStats soc;
        {
            const int base = 20000 + static_cast<int>(getpid() % 20000) * 2;
            const std::string pa = std::to_string(base);
            const std::string pb = std::to_string(base + 1);
            TCanChannelSim a(TAString("SOC 127.0.0.1 " + pb + " " + pa + " 1"));
            TCanChannelSim b(TAString("SOC 127.0.0.1 " + pa + " " + pb + " 1"));
            soc = Summarise(Measure("SOC", a, b, frames));
        }
        const TStats pipe = Summarise(PipeRoundTrips(frames));

        std::printf("results\n");
        PrintStats("RAM: written on one node -> read on other", ram, "ms");
        PrintStats("SOC 127.0.0.1: written -> read", soc, "ms");
        PrintStats("baseline: pipe round trip (echo thread)", pipe, "ms");
        std::printf("  ratio RAM/pipe: median %.1f  p99 %.1f\n", Ratio(ram.Median, pipe.Median), Ratio(ram.P99, pipe.P99));
        std::printf("  ratio SOC/pipe: median %.1f  p99 %.1f\n", Ratio(soc.Median, pipe.Median), Ratio(soc.P99, pipe.P99));
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "channel_latency: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
