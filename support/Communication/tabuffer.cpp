#include "support/Communication/tabuffer.h"

#include "support/tbaseerror.h"

#include <algorithm>
#include <cstring>

TABuffer::TABuffer() : storage_(std::make_unique<uint8_t[]>(InitialCapacity)) {}

int TABuffer::CountLocked() const
{
    return writeIndex_ >= readIndex_ ? writeIndex_ - readIndex_ : capacity_ - readIndex_ + writeIndex_;
}

int TABuffer::ContiguousFreeLocked() const
{
    if (readIndex_ > writeIndex_)
        return readIndex_ - writeIndex_ - 1;
    // Up to the end of the storage; the last byte stays free when reading resumes at 0.
    return capacity_ - writeIndex_ - (readIndex_ == 0 ? 1 : 0);
}

int TABuffer::Count() const
{
    std::lock_guard guard(lock_);
    return CountLocked();
}

int TABuffer::Capacity() const
{
    std::lock_guard guard(lock_);
    return capacity_;
}

int TABuffer::ContiguousFree() const
{
    std::lock_guard guard(lock_);
    return ContiguousFreeLocked();
}

uint8_t* TABuffer::GetDirectWrite(int n)
{
    std::lock_guard guard(lock_);
    for (;;) {
        if (ContiguousFreeLocked() >= n)
            return storage_.get() + writeIndex_;
        const int freeBytes = capacity_ - 1 - CountLocked();
        if (freeBytes >= n && readIndex_ <= writeIndex_) {
            // Enough room in total, but split around the stored bytes: move them to the front.
            std::memmove(storage_.get(), storage_.get() + readIndex_, writeIndex_ - readIndex_);
            writeIndex_ -= readIndex_;
            readIndex_ = 0;
            continue;
        }
        const int oldCapacity = capacity_;
        auto larger = std::make_unique<uint8_t[]>(static_cast<size_t>(oldCapacity) * 2);
        std::memcpy(larger.get(), storage_.get(), oldCapacity);
        if (readIndex_ > writeIndex_) {
            // Unwrap: the bytes before the write index follow the old end.
            std::memcpy(larger.get() + oldCapacity, storage_.get(), writeIndex_);
            writeIndex_ += oldCapacity;
        }
        storage_ = std::move(larger);
        capacity_ = oldCapacity * 2;
    }
}

void TABuffer::SetNDirectWrite(int n)
{
    std::lock_guard guard(lock_);
    if (n < 0 || n > ContiguousFreeLocked())
        throw TBaseError("TABuffer::SetNDirectWrite", "UserError");
    writeIndex_ += n;
    if (writeIndex_ == capacity_)
        writeIndex_ = 0;
}

int TABuffer::Write(const void* bytes, int n)
{
    const auto* source = static_cast<const uint8_t*>(bytes);
    int done = 0;
    while (done < n) {
        // What fits behind the write index goes there; the rest wraps, compacts or grows.
        int piece = std::min(n - done, ContiguousFree());
        if (piece == 0)
            piece = n - done;
        uint8_t* place = GetDirectWrite(piece);
        std::memcpy(place, source + done, piece);
        SetNDirectWrite(piece);
        done += piece;
    }
    return n;
}

int TABuffer::Peek(void* destination, int n) const
{
    std::lock_guard guard(lock_);
    const int count = std::min(std::max(n, 0), CountLocked());
    auto* target = static_cast<uint8_t*>(destination);
    const int first = std::min(count, capacity_ - readIndex_);
    std::memcpy(target, storage_.get() + readIndex_, first);
    std::memcpy(target + first, storage_.get(), count - first);
    return count;
}

uint8_t TABuffer::Peek(int i) const
{
    std::lock_guard guard(lock_);
    if (i < 0 || i >= CountLocked())
        throw TBaseError("TABuffer::Peek", "IndexError");
    return storage_[(readIndex_ + i) % capacity_];
}

int TABuffer::Skip(int n)
{
    std::lock_guard guard(lock_);
    const int count = std::min(std::max(n, 0), CountLocked());
    readIndex_ = (readIndex_ + count) % capacity_;
    return count;
}

int TABuffer::Read(void* destination, int n)
{
    std::lock_guard guard(lock_);
    const int count = std::min(std::max(n, 0), CountLocked());
    auto* target = static_cast<uint8_t*>(destination);
    const int first = std::min(count, capacity_ - readIndex_);
    std::memcpy(target, storage_.get() + readIndex_, first);
    std::memcpy(target + first, storage_.get(), count - first);
    readIndex_ = (readIndex_ + count) % capacity_;
    return count;
}
