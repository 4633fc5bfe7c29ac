#include "support/Communication/tacommunication.h"

#include "support/Communication/tacommunicationerror.h"
#include "support/Communication/tcommhdd.h"
#include "support/Communication/tcommram.h"
#include "support/Communication/tcommrs232.h"
#include "support/Communication/tcommsocket.h"

#include <algorithm>
#include <unistd.h>

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

std::unique_ptr<TACommunication> TACommunication::New(const TAString& description, const TCommOptions& options)
{
    const TAString kind = description.Word(0);
    if (kind == "HDD") {
        NeedWords(description, 3);
        return std::make_unique<TCommHDD>(description.Word(1), description.Word(2), options);
    }
    if (kind == "SOC") {
        NeedWords(description, 5);
        // Port 0 would be any free port the system picks: no peer could know where to connect.
        const auto port = [](const TAString& w) {
            const uint16_t n = w.AsWord(TAString::nmDec);
            if (n == 0)
                throw TACommunicationError("TACommunication::New", "ConfigError");
            return n;
        };
        const uint16_t remotePort = Field(description, 2, "remote port", "a number from 1 to 65535", port);
        const uint16_t localPort = Field(description, 3, "local port", "a number from 1 to 65535", port);
        const bool keep = Field(description, 4, "keep-connection flag", "a whole number",
                                [](const TAString& w) { return w.AsInt32(TAString::nmDec); }) != 0;
        return std::make_unique<TCommSocket>(description.Word(1), remotePort, localPort, keep, options);
    }
    if (kind == "RAM") {
        NeedWords(description, 3);
        const auto slot = [](const TAString& w) { return w.AsByte(TAString::nmDec); };
        const uint8_t sendSlot = Field(description, 1, "send slot", "a number from 0 to 255", slot);
        const uint8_t receiveSlot = Field(description, 2, "receive slot", "a number from 0 to 255", slot);
        return std::make_unique<TCommRam>(sendSlot, receiveSlot, options);
    }
    if (kind == "COM") {
        NeedWords(description, 5);
        const uint32_t bitRate = Field(description, 2, "bit rate", "a number from 0 to 4294967295",
                                       [](const TAString& w) { return w.AsUInt32(TAString::nmDec); });
        const uint8_t dataBits = Field(description, 3, "data bits", "a number from 0 to 255",
                                       [](const TAString& w) { return w.AsByte(TAString::nmDec); });
        return std::make_unique<TCommRs232>(description.Word(1), bitRate, dataBits, description.Word(4)[0],
                                            options);
    }
    throw TACommunicationError("TACommunication::New", "ConfigError");
}

TACommunication::TACommunication(TPause sendIdle, TPause receiveIdle, const TCommOptions& options)
    : recordSize_(std::max<size_t>(options.RecordSize, 1)), check_(options.Check), sendOnly_(options.SendOnly),
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

void TACommunication::ReportUnread()
{
    if (const size_t left = receiveBuffer_.Count(); left > 0)
        TAThread::Report("TACommunication::Close Received records not read",
                         TBaseError("TACommunication::Close", "Received records not read",
                                    Where() + ": " + Count(left / recordSize_, "record")
                                        + " taken from the medium were never read and are lost"));
}

void TACommunication::StartThreads(const TAThread::TLauncher& receiveLauncher, bool receiveThread)
{
    receiveCarriesSends_ = receiveThread;
    if (!sendOnly_ || receiveThread)
        receiveThread_.Start(receiveLauncher);
    sendThread_.Start();
}

void TACommunication::StopReceiving()
{
    receiveStopping_ = true;
    UnblockReceive();
    if (!receiveCarriesSends_) {
        const bool ran = !sendOnly_;
        receiveThread_.Join();
        if (ran && !receiveThread_.Error()) {
            try {
                FinalReceive();
            } catch (const TBaseError& error) {
                TAThread::Report(error.Operation() + " " + error.Message(), error);
            }
        }
        return;
    }
    // The thread goes on carrying the sends; it says when it has stopped taking.
    std::unique_lock lock(progressMutex_);
    while (!receiveStopped_ && !ReceivePathEnded())
        progress_.wait_for(lock, DrainLook);
}

bool TACommunication::ReceiveStopped()
{
    if (!ReceiveStopping())
        return false;
    if (!receiveStopped_.exchange(true))
        NoteSendProgress();
    return true;
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

TACommunication::TOffer TACommunication::Offer(const void* bytes, size_t count, size_t queueLimit)
{
    if (count == 0)
        return TOffer::Taken;
    if (const std::optional<TOffer> direct = OfferDirect(bytes, count))
        return *direct;
    if (sendBuffer_.Count() >= queueLimit || sendBuffer_.Room() < count)
        return TOffer::Busy;
    return Write(bytes, count) == count ? TOffer::Queued : TOffer::Busy;
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
    // A stream finding its way back to valid records may hold more than one record's bytes.
    const size_t may = room - room % recordSize_ + recordSize_ - 1;
    return may > stream.partial.size() ? may - stream.partial.size() : 0;
}

void TACommunication::Deliver(TInbound& stream, const uint8_t* bytes, size_t n)
{
    if (check_) {
        DeliverChecked(stream, bytes, n);
        return;
    }
    size_t dropped = 0;
    if (!stream.partial.empty()) {
        const size_t fill = std::min(n, recordSize_ - stream.partial.size());
        stream.partial.insert(stream.partial.end(), bytes, bytes + fill);
        bytes += fill;
        n -= fill;
        if (stream.partial.size() < recordSize_)
            return;
        dropped += Put(stream.partial.data(), recordSize_);
        stream.partial.clear();
    }
    const size_t whole = n - n % recordSize_;
    dropped += Put(bytes, whole);
    stream.partial.assign(bytes + whole, bytes + n);
    NoteDropped(dropped);
}

size_t TACommunication::Put(const uint8_t* records, size_t size)
{
    if (size == 0)
        return 0;
    // As many whole records as fit go in as one piece; a medium that cannot wait loses the rest.
    const size_t fits = std::min(size, receiveBuffer_.Room() / recordSize_ * recordSize_);
    if (fits > 0 && receiveBuffer_.Write(records, fits) < fits)
        return size;
    if (fits > 0) {
        if (const int handle = arrivalHandle_.load(std::memory_order_acquire); handle >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(handle, &one, sizeof one);
        }
    }
    return size - fits;
}

void TACommunication::NoteDropped(size_t dropped)
{
    if (dropped > 0)
        NoteLoss(discarded_, discardReported_, dropped, "TACommunication::Receive", "Receive buffer full",
                 Where() + ": " + Count(dropped, "byte")
                     + " arrived while the receive buffer was full and were dropped in whole records");
}

void TACommunication::DeliverChecked(TInbound& stream, const uint8_t* bytes, size_t n)
{
    std::vector<uint8_t> work;
    work.reserve(stream.partial.size() + n);
    work.insert(work.end(), stream.partial.begin(), stream.partial.end());
    work.insert(work.end(), bytes, bytes + n);
    std::vector<uint8_t> good;
    good.reserve(work.size());
    uint64_t invalid = 0;
    uint64_t skipped = 0;
    size_t at = 0;
    while (work.size() - at >= recordSize_) {
        const uint8_t* record = work.data() + at;
        uint8_t state = stream.checkState;
        bool valid = RecordValid(record, state);
        if (valid && stream.skipping > 0) {
            // After lost alignment a record is believed only when the one behind it is valid
            // too: a few bytes of a damaged record often look valid, and a stream delivers
            // its bytes in pieces of any size. Until the next record is here, it waits (the
            // end of the stream decides on a last one).
            if (work.size() - at < 2 * recordSize_)
                break;
            uint8_t next = state;
            valid = RecordValid(record + recordSize_, next);
        }
        if (valid) {
            stream.checkState = state;
            skipped += stream.skipping;
            stream.skipping = 0;
            good.insert(good.end(), record, record + recordSize_);
            at += recordSize_;
        } else if (stream.resync) {
            ++stream.skipping;
            ++at;
        } else {
            ++invalid;
            at += recordSize_;
        }
    }
    stream.partial.assign(work.begin() + static_cast<std::ptrdiff_t>(at), work.end());
    NoteDropped(Put(good.data(), good.size()));
    if (invalid + skipped > 0)
        NoteInvalid(invalid, skipped, Where());
}

void TACommunication::NoteInvalid(uint64_t records, uint64_t skippedBytes, const TAString& where)
{
    invalid_ += records;
    skipped_ += skippedBytes;
    if (invalidReported_.exchange(true))
        return;
    TAString what;
    if (records > 0)
        what = Count(records, "invalid record") + " refused";
    if (skippedBytes > 0)
        what += TAString(what.IsEmpty() ? "" : ", ") + Count(skippedBytes, "byte")
                + " skipped to find the next valid record";
    const TBaseError error("TACommunication::Receive", "Invalid records",
                          where + ": " + what
                              + " (a length above 8, unknown flag bits or an identifier too large for its kind);"
                                " the totals follow at the end");
    TAThread::Report("TACommunication::Receive Invalid records", error);
}

void TACommunication::NoteRefusedDrop(const TBaseError& error)
{
    ++refusedDrops_;
    TAThread::Report(error.Operation() + " " + error.Message(), error);
}

TReceiveLosses TACommunication::Losses() const
{
    TReceiveLosses losses;
    losses.CutRecords = cutTotal_.load();
    losses.InvalidRecords = invalid_.load();
    losses.SkippedBytes = skipped_.load();
    losses.DiscardedBytes = discarded_.load();
    losses.RefusedDrops = refusedDrops_.load();
    return losses;
}

TAString TReceiveLosses::Text() const
{
    TAString text;
    const auto add = [&](uint64_t n, const char* unit, const char* what) {
        if (n == 0)
            return;
        text += TAString(text.IsEmpty() ? "" : ", ") + Count(n, unit) + what;
    };
    add(CutRecords, "cut record", "");
    add(InvalidRecords, "invalid record", " refused");
    add(SkippedBytes, "byte", " skipped between records");
    add(DiscardedBytes, "byte", " dropped while the receive buffer was full");
    add(RefusedDrops, "file", " left at the read name");
    return text;
}

void TACommunication::EndStream(TInbound& stream, const TAString& where)
{
    if (stream.skipping > 0) {
        // Still looking for a valid record. A last one that waited for a record behind it
        // is taken now that none will come; anything else left was part of what was skipped.
        uint64_t skipped = stream.skipping + stream.partial.size();
        uint8_t state = stream.checkState;
        if (stream.partial.size() == recordSize_ && RecordValid(stream.partial.data(), state)) {
            skipped = stream.skipping;
            NoteDropped(Put(stream.partial.data(), recordSize_));
        }
        stream.skipping = 0;
        stream.partial.clear();
        NoteInvalid(0, skipped, where);
        return;
    }
    stream.checkState = 0;
    if (stream.partial.empty())
        return;
    const size_t cut = stream.partial.size();
    stream.partial.clear();
    ++cutTotal_;
    std::lock_guard guard(cutMutex_);
    ++cutRecords_;
    lastCut_ = where + " ended " + Count(cut, "byte") + " into a " + TAString(std::to_string(recordSize_))
               + "-byte record; those bytes were dropped";
}
