#pragma once
// Helpers shared by the channel tests: 24-byte frame records, reading with a deadline,
// free TCP ports on 127.0.0.1, plain sockets for the test's side of a connection,
// temporary directories and pseudo-terminal pairs.

#include "support/Communication/tacommunication.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace commtest {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// The simulation frame record: identifier (4, little-endian), data (8), Dlc (1), padding (3),
// time stamp (8, little-endian). The sequence number goes into the identifier and the time.
inline Bytes Record(uint32_t sequence)
{
    Bytes record(24, 0);
    for (int i = 0; i < 4; ++i)
        record[i] = static_cast<uint8_t>(sequence >> (8 * i));
    for (int i = 0; i < 8; ++i)
        record[4 + i] = static_cast<uint8_t>(sequence * 7 + i);
    record[12] = 8;
    const uint64_t time = static_cast<uint64_t>(sequence) * 1000;
    for (int i = 0; i < 8; ++i)
        record[16 + i] = static_cast<uint8_t>(time >> (8 * i));
    return record;
}

inline Bytes Records(uint32_t first, uint32_t count)
{
    Bytes all;
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes one = Record(first + i);
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

// True when the 24 bytes at record are exactly Record(n) for some n, which goes to sequence.
inline bool IsRecord(const uint8_t* record, uint32_t& sequence)
{
    sequence = 0;
    for (int i = 0; i < 4; ++i)
        sequence |= static_cast<uint32_t>(record[i]) << (8 * i);
    const Bytes expected = Record(sequence);
    return std::equal(expected.begin(), expected.end(), record);
}

// The sequence numbers of the records in got, in order; each must be a whole record.
inline std::vector<uint32_t> Sequences(const Bytes& got)
{
    std::vector<uint32_t> sequences;
    for (size_t at = 0; at + 24 <= got.size(); at += 24) {
        uint32_t sequence = 0;
        EXPECT_TRUE(IsRecord(got.data() + at, sequence)) << "record " << at / 24 << " is not whole";
        sequences.push_back(sequence);
    }
    return sequences;
}

// first, first + 1, ... (count numbers).
inline std::vector<uint32_t> Range(uint32_t first, uint32_t count)
{
    std::vector<uint32_t> numbers(count);
    for (uint32_t i = 0; i < count; ++i)
        numbers[i] = first + i;
    return numbers;
}

// Reads from channel until want bytes have come or the time is up.
inline Bytes ReadFor(TACommunication& channel, size_t want, std::chrono::milliseconds limit = 10s)
{
    Bytes got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    uint8_t piece[4096];
    while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
        const int n = channel.Read(piece, static_cast<int>(std::min<size_t>(sizeof piece, want - got.size())));
        if (n > 0)
            got.insert(got.end(), piece, piece + n);
        else
            std::this_thread::sleep_for(200us);
    }
    return got;
}

// Collects what channels report through TAThread::Report while it exists.
class CapturedReports {
public:
    struct Report {
        TAString text;
        TBaseError error;
    };
    CapturedReports()
    {
        TAThread::SetReporter([this](const TAString&, const TAString& text, const TBaseError& error) {
            std::lock_guard guard(mutex_);
            reports_.push_back({text, error});
        });
    }
    ~CapturedReports() { TAThread::SetReporter(nullptr); }
    CapturedReports(const CapturedReports&) = delete;
    CapturedReports& operator=(const CapturedReports&) = delete;
    std::vector<Report> Taken() const
    {
        std::lock_guard guard(mutex_);
        return reports_;
    }
    size_t Count() const { return Taken().size(); }

private:
    mutable std::mutex mutex_;
    std::vector<Report> reports_;
};

// Polls until condition() holds or the time is up; returns the last result.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = 5s)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// A port on 127.0.0.1 that was free a moment ago.
inline uint16_t FreePort()
{
    const int handle = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(handle);
    return ntohs(address.sin_port);
}

// A plain blocking socket for the test's side of a connection.
class RawSocket {
public:
    RawSocket() = default;
    explicit RawSocket(int handle) : handle_(handle) {}
    ~RawSocket() { Close(); }
    RawSocket(RawSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
    RawSocket& operator=(RawSocket&& other) noexcept
    {
        std::swap(handle_, other.handle_);
        return *this;
    }

    static sockaddr_in Loopback(uint16_t port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

    static RawSocket Listen(uint16_t port)
    {
        RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const int yes = 1;
        ::setsockopt(socket.handle_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        const sockaddr_in address = Loopback(port);
        EXPECT_EQ(::bind(socket.handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(socket.handle_, 5), 0);
        return socket;
    }

    // Connects, retrying while the channel does not listen yet.
    static RawSocket Connect(uint16_t port)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            RawSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            const sockaddr_in address = Loopback(port);
            if (::connect(socket.handle_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
                return socket;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "could not connect to " << port;
                return socket;
            }
            std::this_thread::sleep_for(5ms);
        }
    }

    // The next peer within the time limit (an invalid socket if none came).
    RawSocket Accept(std::chrono::milliseconds limit = 5s)
    {
        pollfd wait{handle_, POLLIN, 0};
        if (::poll(&wait, 1, static_cast<int>(limit.count())) != 1)
            return RawSocket();
        return RawSocket(::accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC));
    }

    bool Valid() const { return handle_ >= 0; }
    int Handle() const { return handle_; }

    bool SendAll(const Bytes& bytes)
    {
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(handle_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // Receives until want bytes, the peer's close, or the time limit.
    Bytes Receive(size_t want, std::chrono::milliseconds limit = 5s)
    {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        uint8_t piece[4096];
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd wait{handle_, POLLIN, 0};
            if (::poll(&wait, 1, 50) != 1)
                continue;
            const ssize_t n = ::recv(handle_, piece, std::min(sizeof piece, want - got.size()), 0);
            if (n <= 0)
                break;
            got.insert(got.end(), piece, piece + n);
        }
        return got;
    }

    void Close()
    {
        if (handle_ >= 0)
            ::close(handle_);
        handle_ = -1;
    }

private:
    int handle_ = -1;
};

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qvcommXXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// One pseudo-terminal: the test holds the master and keeps the slave open too (so that the
// master never sees a hang-up while the channel reopens it), in raw mode.
class Pty {
public:
    Pty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master_);
        ::unlockpt(master_);
        slaveName_ = ::ptsname(master_);
        slave_ = ::open(slaveName_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        ::tcgetattr(slave_, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave_, TCSANOW, &settings);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        CloseMaster();
        if (slave_ >= 0)
            ::close(slave_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    int Master() const { return master_; }
    const std::string& SlaveName() const { return slaveName_; }
    void CloseSlaveHold()
    {
        ::close(slave_);
        slave_ = -1;
    }
    void CloseMaster()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slaveName_;
};

// Two pseudo-terminals whose masters are joined by a relay thread, like a null-modem cable:
// what a channel on one slave sends comes out at the other slave.
class NullModem {
public:
    NullModem() : stop_(::eventfd(0, EFD_CLOEXEC)), relay_([this] { Run(); }) {}
    ~NullModem()
    {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
        relay_.join();
        ::close(stop_);
    }
    NullModem(const NullModem&) = delete;
    NullModem& operator=(const NullModem&) = delete;
    const std::string& First() const { return a_.SlaveName(); }
    const std::string& Second() const { return b_.SlaveName(); }

private:
    // Carries what from has to to; a far end that takes nothing more (its channel is gone)
    // holds the relay only until the modem is destroyed.
    void Pump(int from, int to)
    {
        uint8_t bytes[4096];
        const ssize_t got = ::read(from, bytes, sizeof bytes);
        for (ssize_t done = 0; got > 0 && done < got;) {
            const ssize_t put = ::write(to, bytes + done, got - done);
            if (put > 0) {
                done += put;
                continue;
            }
            pollfd wait{stop_, POLLIN, 0};
            if (::poll(&wait, 1, 1) > 0)
                return;
        }
    }
    void Run()
    {
        for (;;) {
            pollfd waits[3] = {{stop_, POLLIN, 0}, {a_.Master(), POLLIN, 0}, {b_.Master(), POLLIN, 0}};
            ::poll(waits, 3, 1000);
            if (waits[0].revents)
                return;
            if (waits[1].revents & POLLIN)
                Pump(a_.Master(), b_.Master());
            if (waits[2].revents & POLLIN)
                Pump(b_.Master(), a_.Master());
        }
    }

    Pty a_;
    Pty b_;
    int stop_;
    std::thread relay_;
};

} // namespace commtest
