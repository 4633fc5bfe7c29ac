#pragma once
// A growable byte ring between exactly one producer and one consumer thread.
//
// Producer side: Write, GetDirectWrite, SetNDirectWrite, ContiguousFree.
// Consumer side: Read, Peek, Skip, Count.
// One mutex guards the indices and the storage. The producer may fill a place returned
// by GetDirectWrite without holding the lock: only the producer ever moves or enlarges
// the storage, and the consumer never looks past the write index, which SetNDirectWrite
// advances under the lock (so the bytes written there happen-before any read of them).
//
// The ring holds at most capacity - 1 bytes (read index == write index means empty).
// The capacity starts at 256 and is only ever doubled; the buffer never refuses bytes.

#include <cstdint>
#include <memory>
#include <mutex>

class TABuffer {
public:
    static constexpr int InitialCapacity = 256;

    TABuffer();
    TABuffer(const TABuffer&) = delete;
    TABuffer& operator=(const TABuffer&) = delete;

    // Bytes stored.
    int Count() const;
    int Capacity() const;

    // Appends n bytes (growing or compacting as needed); returns n.
    int Write(const void* bytes, int n);
    // Takes at most n bytes into destination; returns how many it took.
    int Read(void* destination, int n);
    // The i-th stored byte (0 = the oldest) without taking it.
    // Throws TBaseError("TABuffer::Peek", "IndexError") when i is not below Count().
    uint8_t Peek(int i) const;
    // Copies at most n stored bytes, from the oldest, without taking them; returns how many.
    int Peek(void* destination, int n) const;
    // Drops at most n stored bytes, the oldest first; returns how many it dropped.
    int Skip(int n);

    // Free bytes that directly follow the write index, usable without moving anything.
    int ContiguousFree() const;
    // A place for n contiguous bytes at the write index (moves or enlarges the storage if needed).
    // Valid until the producer's next call.
    uint8_t* GetDirectWrite(int n);
    // Declares n bytes written at the place of the last GetDirectWrite.
    // Throws TBaseError("TABuffer::SetNDirectWrite", "UserError") when n is negative or more
    // than the contiguous free bytes (which would run past the storage or over unread bytes).
    void SetNDirectWrite(int n);

private:
    int CountLocked() const;
    int ContiguousFreeLocked() const;

    mutable std::mutex lock_;
    std::unique_ptr<uint8_t[]> storage_;
    int capacity_ = InitialCapacity;
    int readIndex_ = 0;
    int writeIndex_ = 0;
};
