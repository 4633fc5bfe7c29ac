#include "support/Communication/tacommunication.h"

#include "support/Communication/tacommunicationerror.h"
#include "support/Communication/tcommhdd.h"
#include "support/Communication/tcommram.h"
#include "support/Communication/tcommrs232.h"
#include "support/Communication/tcommsocket.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

// How often a Drain looks whether the sending thread has ended meanwhile.
constexpr auto DrainLook = 10ms;

void NeedWords(const TAString& description, int count)
{
    if (description.WordCount() < count)
        throw TACommunicationError("TACommunication::New", "ConfigError");
}

// Number word index of the description, parsed by parse; a failure keeps the parser's
// error and says which field held which text.
template <typename Parse>
auto Field(const TAString& description, int index, const char* field, const char* range, Parse parse)
{
    const TAString word = description.Word(index);
    try {
        return parse(word);
    } catch (TBaseError& error) {
        error.SetDetail(description.Word(0) + " " + field + " '" + word + "' is not " + range);
        throw;
    }
}

TAString Count(uint64_t n, const char* unit)
{
    return TAString(std::to_string(n)) + " " + unit + (n == 1 ? "" : "s");
}

} // namespace

std::unique_ptr<TACommunication> TACommunication::New(const TAString& description, size_t recordSize)
{
    const TAString kind = description.Word(0);
    if (kind == "HDD") {
        NeedWords(description, 3);
        return std::make_unique<TCommHDD>(description.Word(1), description.Word(2), recordSize);
    }
    if (kind == "SOC") {
        NeedWords(description, 5);
        const auto port = [](const TAString& w) { return w.AsWord(TAString::nmDec); };
        const uint16_t remotePort = Field(description, 2, "remote port", "a number from 0 to 65535", port);
        const uint16_t localPort = Field(description, 3, "local port", "a number from 0 to 65535", port);
        const bool keep = Field(description, 4, "keep-connection flag", "a whole number",
                                [](const TAString& w) { return w.AsInt32(TAString::nmDec); }) != 0;
        return std::make_unique<TCommSocket>(description.Word(1), remotePort, localPort, keep, recordSize);
    }
    if (kind == "RAM") {
        NeedWords(description, 3);
        const auto slot = [](const TAString& w) { return w.AsByte(TAString::nmDec); };
        const uint8_t sendSlot = Field(description, 1, "send slot", "a number from 0 to 255", slot);
        const uint8_t receiveSlot = Field(description, 2, "receive slot", "a number from 0 to 255", slot);
        return std::make_unique<TCommRam>(sendSlot, receiveSlot, recordSize);
    }
    if (kind == "COM") {
        NeedWords(description, 5);
        const uint32_t bitRate = Field(description, 2, "bit rate", "a number from 0 to 4294967295",
                                       [](const TAString& w) { return w.AsUInt32(TAString::nmDec); });
        const uint8_t dataBits = Field(description, 3, "data bits", "a number from 0 to 255",
                                       [](const TAString& w) { return w.AsByte(TAString::nmDec); });
        return std::make_unique<TCommRs232>(description.Word(1), bitRate, dataBits, description.Word(4)[0],
                                            recordSize);
    }
    throw TACommunicationError("TACommunication::New", "ConfigError");
}

TACommunication::TACommunication(TPause sendIdle, TPause receiveIdle, size_t recordSize)
    : recordSize_(std::max<size_t>(recordSize, 1)),
      sendThread_(TAThread::Send,
                  [this] {
                      const bool again = Send();
                      NoteSendProgress();
                      return again;
                  },
                  sendIdle),
      receiveThread_(TAThread::Receive, [this] { return Receive(); }, receiveIdle)
{
}

TACommunication::~TACommunication()
{
    StopThreads();
}

void TACommunication::StartThreads(const TAThread::TLauncher& receiveLauncher)
{
    receiveThread_.Start(receiveLauncher);
    sendThread_.Start();
}

void TACommunication::StopThreads()
{
    stopping_ = true;
    receiveThread_.RequestStop();
    sendThread_.RequestStop();
    Unblock();
    receiveThread_.Join();
    sendThread_.Join();
}

void TACommunication::NoteLoss(std::atomic<uint64_t>& counter, std::atomic<bool>& reported, uint64_t bytes,
                               const char* operation, const char* message, const TAString& detail)
{
    counter += bytes;
    if (reported.exchange(true))
        return;
    const TBaseError error(operation, message, detail);
    TAThread::Report(TAString(operation) + " " + message, error);
}

size_t TACommunication::Write(const void* bytes, size_t count)
{
    if (count == 0)
        return 0;
    if (sendBuffer_.Write(bytes, count) < count) {
        NoteLoss(refused_, refusalReported_, count, "TACommunication::Write", "Send buffer full",
                 Where() + ": the medium has not taken the " + Count(sendBuffer_.Count(), "byte")
                     + " waiting to be sent; what is written while it stays full is dropped and counted");
        return 0;
    }
    NotifySendData();
    return count;
}

size_t TACommunication::Read(void* destination, size_t count)
{
    const size_t taken = receiveBuffer_.Read(destination, count);
    if (taken > 0)
        WakeReceive();
    return taken;
}

void TACommunication::NoteSendProgress()
{
    { std::lock_guard guard(progressMutex_); }
    progress_.notify_all();
}

size_t TACommunication::Drain(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    NotifySendData();
    std::unique_lock lock(progressMutex_);
    for (;;) {
        if (Undelivered() == 0 || SendPathEnded())
            break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        progress_.wait_until(lock, std::min(deadline, now + DrainLook));
    }
    return Undelivered();
}

std::optional<TAString> TACommunication::TakeCutRecords()
{
    std::lock_guard guard(cutMutex_);
    if (cutRecords_ == 0)
        return std::nullopt;
    TAString text = lastCut_;
    if (cutRecords_ > 1)
        text += " (" + Count(cutRecords_, "cut record") + " since the last report)";
    cutRecords_ = 0;
    return text;
}

size_t TACommunication::MayReceive(const TInbound& stream) const
{
    const size_t room = receiveBuffer_.Room();
    return room - room % recordSize_ + (recordSize_ - 1 - stream.partial.size());
}

void TACommunication::Deliver(TInbound& stream, const uint8_t* bytes, size_t n)
{
    size_t dropped = 0;
    const auto put = [&](const uint8_t* from, size_t size) {
        if (receiveBuffer_.Write(from, size) < size)
            dropped += size;
    };
    if (!stream.partial.empty()) {
        const size_t fill = std::min(n, recordSize_ - stream.partial.size());
        stream.partial.insert(stream.partial.end(), bytes, bytes + fill);
        bytes += fill;
        n -= fill;
        if (stream.partial.size() < recordSize_)
            return;
        put(stream.partial.data(), recordSize_);
        stream.partial.clear();
    }
    const size_t whole = n - n % recordSize_;
    if (whole > 0) {
        // As many whole records as fit go in as one piece; a medium that cannot wait loses the rest.
        const size_t fits = std::min(whole, receiveBuffer_.Room() / recordSize_ * recordSize_);
        if (fits > 0)
            put(bytes, fits);
        dropped += whole - fits;
    }
    stream.partial.assign(bytes + whole, bytes + n);
    if (dropped > 0)
        NoteLoss(discarded_, discardReported_, dropped, "TACommunication::Receive", "Receive buffer full",
                 Where() + ": " + Count(dropped, "byte")
                     + " arrived while the receive buffer was full and were dropped in whole records");
}

void TACommunication::EndStream(TInbound& stream, const TAString& where)
{
    if (stream.partial.empty())
        return;
    const size_t cut = stream.partial.size();
    stream.partial.clear();
    std::lock_guard guard(cutMutex_);
    ++cutRecords_;
    lastCut_ = where + " ended " + Count(cut, "byte") + " into a " + TAString(std::to_string(recordSize_))
               + "-byte record; those bytes were dropped";
}
