#pragma once
// A growable, bounded byte ring between exactly one producer and one consumer thread.
//
// Producer side: Write, GetDirectWrite, SetNDirectWrite, ContiguousFree, Room.
// Consumer side: Read, Peek, Skip, Count.
// One mutex guards the indices and the storage. The producer may fill a place returned
// by GetDirectWrite without holding the lock: only the producer ever moves or enlarges
// the storage, and the consumer never looks past the write index, which SetNDirectWrite
// advances under the lock (so the bytes written there happen-before any read of them).
// A Write becomes visible to the consumer as a whole: it never sees the first part of
// a Write without the rest, also when the bytes wrap around the end of the storage.
//
// The ring holds at most capacity - 1 bytes (read index == write index means empty).
// The capacity starts at 256 and is only ever doubled; it grows only as far as the
// stored bytes need, and the stored bytes never exceed the limit (1 MiB unless told):
// a Write that does not fit under the limit stores nothing. Sizes are size_t, so no
// count can wrap around.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class TABuffer {
public:
    static constexpr size_t InitialCapacity = 256;
    static constexpr size_t DefaultLimit = size_t{1} << 20;

    explicit TABuffer(size_t limit = DefaultLimit);
    TABuffer(const TABuffer&) = delete;
    TABuffer& operator=(const TABuffer&) = delete;

    // Bytes stored.
    size_t Count() const;
    size_t Capacity() const;
    // The most bytes the buffer stores at once.
    size_t Limit() const { return limit_; }
    // Bytes that may still be stored: Limit() - Count().
    size_t Room() const;

    // Appends all n bytes and returns n when they fit under the limit; otherwise stores
    // nothing and returns 0 (growing or compacting the storage as needed).
    size_t Write(const void* bytes, size_t n);
    // Takes at most n bytes into destination; returns how many it took.
    size_t Read(void* destination, size_t n);
    // The i-th stored byte (0 = the oldest) without taking it.
    // Throws TBaseError("TABuffer::Peek", "IndexError") when i is not below Count().
    uint8_t Peek(size_t i) const;
    // Copies at most n stored bytes, from the oldest, without taking them; returns how many.
    size_t Peek(void* destination, size_t n) const;
    // Drops at most n stored bytes, the oldest first; returns how many it dropped.
    size_t Skip(size_t n);

    // Free bytes that directly follow the write index, usable without moving anything.
    size_t ContiguousFree() const;
    // A place for n contiguous bytes at the write index (moves or enlarges the storage if
    // needed); nullptr when n more bytes would pass the limit. Valid until the producer's
    // next call.
    uint8_t* GetDirectWrite(size_t n);
    // Declares n bytes written at the place of the last GetDirectWrite.
    // Throws TBaseError("TABuffer::SetNDirectWrite", "UserError") when n is more than the
    // contiguous free bytes (which would run past the storage or over unread bytes).
    void SetNDirectWrite(size_t n);

private:
    size_t CountLocked() const;
    size_t ContiguousFreeLocked() const;
    // Grows or compacts until n bytes fit: contiguously behind the write index when
    // contiguous, else anywhere in the ring.
    void MakeRoomLocked(size_t n, bool contiguous);

    mutable std::mutex lock_;
    const size_t limit_;
    std::unique_ptr<uint8_t[]> storage_;
    size_t capacity_ = InitialCapacity;
    size_t readIndex_ = 0;
    size_t writeIndex_ = 0;
};
