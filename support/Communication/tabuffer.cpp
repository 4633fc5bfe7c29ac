#include "support/Communication/tabuffer.h"

#include "support/tbaseerror.h"

#include <algorithm>
#include <cstring>

TABuffer::TABuffer(size_t limit) : limit_(limit), storage_(std::make_unique<uint8_t[]>(InitialCapacity)) {}

size_t TABuffer::CountLocked() const
{
    return writeIndex_ >= readIndex_ ? writeIndex_ - readIndex_ : capacity_ - readIndex_ + writeIndex_;
}

size_t TABuffer::ContiguousFreeLocked() const
{
    if (readIndex_ > writeIndex_)
        return readIndex_ - writeIndex_ - 1;
    // Up to the end of the storage; the last byte stays free when reading resumes at 0.
    return capacity_ - writeIndex_ - (readIndex_ == 0 ? 1 : 0);
}

size_t TABuffer::Count() const
{
    std::lock_guard guard(lock_);
    return CountLocked();
}

size_t TABuffer::Capacity() const
{
    std::lock_guard guard(lock_);
    return capacity_;
}

size_t TABuffer::Room() const
{
    std::lock_guard guard(lock_);
    const size_t count = CountLocked();
    return count < limit_ ? limit_ - count : 0;
}

size_t TABuffer::ContiguousFree() const
{
    std::lock_guard guard(lock_);
    return ContiguousFreeLocked();
}

void TABuffer::MakeRoomLocked(size_t n, bool contiguous)
{
    for (;;) {
        const size_t count = CountLocked();
        const size_t freeBytes = capacity_ - 1 - count;
        if (contiguous ? ContiguousFreeLocked() >= n : freeBytes >= n)
            return;
        if (freeBytes >= n && readIndex_ <= writeIndex_) {
            // Enough room in total, but split around the stored bytes: move them to the front.
            std::memmove(storage_.get(), storage_.get() + readIndex_, count);
            readIndex_ = 0;
            writeIndex_ = count;
            continue;
        }
        // Double, and lay the stored bytes out from the start of the new storage.
        const size_t larger = capacity_ * 2;
        auto grown = std::make_unique<uint8_t[]>(larger);
        const size_t first = std::min(count, capacity_ - readIndex_);
        std::memcpy(grown.get(), storage_.get() + readIndex_, first);
        std::memcpy(grown.get() + first, storage_.get(), count - first);
        storage_ = std::move(grown);
        capacity_ = larger;
        readIndex_ = 0;
        writeIndex_ = count;
    }
}

uint8_t* TABuffer::GetDirectWrite(size_t n)
{
    std::lock_guard guard(lock_);
    if (n > limit_ || CountLocked() > limit_ - n)
        return nullptr;
    MakeRoomLocked(n, true);
    return storage_.get() + writeIndex_;
}

void TABuffer::SetNDirectWrite(size_t n)
{
    std::lock_guard guard(lock_);
    if (n > ContiguousFreeLocked())
        throw TBaseError("TABuffer::SetNDirectWrite", "UserError");
    writeIndex_ += n;
    if (writeIndex_ == capacity_)
        writeIndex_ = 0;
}

size_t TABuffer::Write(const void* bytes, size_t n)
{
    std::lock_guard guard(lock_);
    if (n == 0 || n > limit_ || CountLocked() > limit_ - n)
        return 0;
    MakeRoomLocked(n, false);
    const auto* source = static_cast<const uint8_t*>(bytes);
    const size_t first = std::min(n, capacity_ - writeIndex_);
    std::memcpy(storage_.get() + writeIndex_, source, first);
    std::memcpy(storage_.get(), source + first, n - first);
    writeIndex_ = (writeIndex_ + n) % capacity_;
    return n;
}

size_t TABuffer::Peek(void* destination, size_t n) const
{
    std::lock_guard guard(lock_);
    const size_t count = std::min(n, CountLocked());
    // An empty destination may be a null pointer (an empty vector's data()).
    if (count == 0) return 0;
    auto* target = static_cast<uint8_t*>(destination);
    const size_t first = std::min(count, capacity_ - readIndex_);
    std::memcpy(target, storage_.get() + readIndex_, first);
    std::memcpy(target + first, storage_.get(), count - first);
    return count;
}

uint8_t TABuffer::Peek(size_t i) const
{
    std::lock_guard guard(lock_);
    if (i >= CountLocked())
        throw TBaseError("TABuffer::Peek", "IndexError");
    return storage_[(readIndex_ + i) % capacity_];
}

size_t TABuffer::Skip(size_t n)
{
    std::lock_guard guard(lock_);
    const size_t count = std::min(n, CountLocked());
    readIndex_ = (readIndex_ + count) % capacity_;
    return count;
}

size_t TABuffer::Read(void* destination, size_t n)
{
    std::lock_guard guard(lock_);
    const size_t count = std::min(n, CountLocked());
    if (count == 0) return 0;
    auto* target = static_cast<uint8_t*>(destination);
    const size_t first = std::min(count, capacity_ - readIndex_);
    std::memcpy(target, storage_.get() + readIndex_, first);
    std::memcpy(target + first, storage_.get(), count - first);
    readIndex_ = (readIndex_ + count) % capacity_;
    return count;
}
