#include "support/Communication/tabuffer.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> Sequence(size_t count, size_t first = 0)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

std::vector<uint8_t> ReadAll(TABuffer& buffer)
{
    std::vector<uint8_t> bytes(buffer.Count());
    EXPECT_EQ(buffer.Read(bytes.data(), bytes.size()), bytes.size());
    return bytes;
}

TEST(TABuffer, ThreeHundredBytesGrowItFrom256To512InOrder)
{
    TABuffer buffer;
    EXPECT_EQ(buffer.Capacity(), 256U);
    const auto bytes = Sequence(300);
    EXPECT_EQ(buffer.Write(bytes.data(), 300), 300U);
    EXPECT_EQ(buffer.Capacity(), 512U);
    EXPECT_EQ(buffer.Count(), 300U);
    EXPECT_EQ(ReadAll(buffer), bytes);
    EXPECT_EQ(buffer.Count(), 0U);
}

TEST(TABuffer, HoldsCapacityMinusOneBeforeGrowing)
{
    TABuffer buffer;
    const auto bytes = Sequence(256);
    buffer.Write(bytes.data(), 255);
    EXPECT_EQ(buffer.Capacity(), 256U);
    buffer.Write(bytes.data() + 255, 1);
    EXPECT_EQ(buffer.Capacity(), 512U);
    EXPECT_EQ(ReadAll(buffer), bytes);
}

TEST(TABuffer, WrapsAroundWithoutGrowingWhenThereIsRoom)
{
    TABuffer buffer;
    const auto first = Sequence(200);
    buffer.Write(first.data(), 200);
    std::vector<uint8_t> taken(150);
    EXPECT_EQ(buffer.Read(taken.data(), 150), 150U);
    // 50 stored at 150..199; 200 more fit in the 205 free bytes: 56 at the end, 144 from 0.
    const auto second = Sequence(200, 200);
    buffer.Write(second.data(), 200);
    EXPECT_EQ(buffer.Capacity(), 256U);
    EXPECT_EQ(buffer.Count(), 250U);
    std::vector<uint8_t> expected(first.begin() + 150, first.end());
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(ReadAll(buffer), expected);
}

TEST(TABuffer, GrowsWhileWrappedAndKeepsTheOrder)
{
    TABuffer buffer;
    const auto all = Sequence(600);
    buffer.Write(all.data(), 200);
    std::vector<uint8_t> taken(150);
    buffer.Read(taken.data(), 150);
    buffer.Write(all.data() + 200, 100);   // wraps: stored bytes now run 150..255, 0..43
    buffer.Write(all.data() + 300, 300);   // 450 stored: one doubling
    EXPECT_EQ(buffer.Capacity(), 512U);
    EXPECT_EQ(ReadAll(buffer), std::vector<uint8_t>(all.begin() + 150, all.end()));
}

TEST(TABuffer, PeekLooksWithoutTakingAndSkipDrops)
{
    TABuffer buffer;
    const auto bytes = Sequence(10, 40);
    buffer.Write(bytes.data(), 10);
    EXPECT_EQ(buffer.Peek(0), 40);
    EXPECT_EQ(buffer.Peek(9), 49);
    EXPECT_EQ(buffer.Count(), 10U);
    std::vector<uint8_t> copy(4);
    EXPECT_EQ(buffer.Peek(copy.data(), 4), 4U);
    EXPECT_EQ(copy, (std::vector<uint8_t>{40, 41, 42, 43}));
    EXPECT_EQ(buffer.Skip(3), 3U);
    EXPECT_EQ(buffer.Peek(0), 43);
    EXPECT_EQ(buffer.Skip(100), 7U);
    EXPECT_EQ(buffer.Count(), 0U);
    try {
        buffer.Peek(0);
        FAIL() << "peek past the stored bytes";
    } catch (const TBaseError& error) {
        EXPECT_EQ(error.Operation(), "TABuffer::Peek");
        EXPECT_EQ(error.Message(), "IndexError");
    }
}

TEST(TABuffer, DirectWriteAtTheEndWrapsTheWriteIndexToZero)
{
    TABuffer buffer;
    const auto bytes = Sequence(100);
    buffer.Write(bytes.data(), 100);
    std::vector<uint8_t> taken(100);
    buffer.Read(taken.data(), 100);
    // Both indices at 100: the 156 bytes up to the end are one place.
    ASSERT_EQ(buffer.ContiguousFree(), 156U);
    uint8_t* place = buffer.GetDirectWrite(156);
    for (int i = 0; i < 156; ++i)
        place[i] = static_cast<uint8_t>(i);
    buffer.SetNDirectWrite(156);
    const auto tail = Sequence(10, 156);
    buffer.Write(tail.data(), 10);
    EXPECT_EQ(buffer.Capacity(), 256U);
    EXPECT_EQ(ReadAll(buffer), Sequence(166));
}

TEST(TABuffer, DeclaringMoreThanTheFreePlaceThrowsUserError)
{
    TABuffer buffer;
    buffer.GetDirectWrite(10);
    // -1 as a size is the largest size there is.
    for (size_t declared : {size_t{256}, static_cast<size_t>(-1)}) {
        try {
            buffer.SetNDirectWrite(declared);
            FAIL() << declared << " bytes declared";
        } catch (const TBaseError& error) {
            EXPECT_EQ(error.Operation(), "TABuffer::SetNDirectWrite");
            EXPECT_EQ(error.Message(), "UserError");
        }
    }
    EXPECT_EQ(buffer.Count(), 0U);
    // With the read index at 0, the write index may not reach the end: 256 stored bytes would
    // look like none. 100 stored leave 155 declarable bytes, not 156.
    const auto bytes = Sequence(100);
    buffer.Write(bytes.data(), 100);
    EXPECT_THROW(buffer.SetNDirectWrite(156), TBaseError);
    EXPECT_EQ(buffer.Count(), 100U);
    buffer.SetNDirectWrite(155);
    EXPECT_EQ(buffer.Count(), 255U);
}

TEST(TABuffer, OneProducerAndOneConsumerMoveAMegabyteInOrder)
{
    TABuffer buffer;
    constexpr size_t total = 4 << 20;   // four times the limit: the producer waits for room
    std::thread producer([&] {
        std::vector<uint8_t> piece(1000);
        for (size_t sent = 0; sent < total;) {
            const size_t n = std::min<size_t>(1 + sent % 997, total - sent);
            for (size_t i = 0; i < n; ++i)
                piece[i] = static_cast<uint8_t>((sent + i) % 251);
            if (sent % 3 == 0) {
                uint8_t* place = buffer.GetDirectWrite(n);
                if (!place) {
                    std::this_thread::yield();
                    continue;
                }
                std::copy(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n), place);
                buffer.SetNDirectWrite(n);
            } else if (buffer.Write(piece.data(), n) == 0) {
                std::this_thread::yield();
                continue;
            }
            sent += n;
        }
    });
    size_t received = 0;
    bool inOrder = true;
    bool bounded = true;
    std::vector<uint8_t> piece(777);
    while (received < total) {
        bounded = bounded && buffer.Count() <= TABuffer::DefaultLimit;
        const size_t n = buffer.Read(piece.data(), piece.size());
        for (size_t i = 0; i < n; ++i)
            inOrder = inOrder && piece[i] == static_cast<uint8_t>((received + i) % 251);
        received += n;
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(bounded);
    EXPECT_EQ(buffer.Count(), 0U);
}

TEST(TABuffer, WriteThatDoesNotFitUnderTheLimitStoresNothing)
{
    TABuffer buffer(1000);
    const auto bytes = Sequence(1000);
    EXPECT_EQ(buffer.Write(bytes.data(), 600), 600U);
    EXPECT_EQ(buffer.Room(), 400U);
    EXPECT_EQ(buffer.Write(bytes.data() + 600, 401), 0U);   // one byte too many: none taken
    EXPECT_EQ(buffer.Count(), 600U);
    EXPECT_EQ(buffer.GetDirectWrite(401), nullptr);
    EXPECT_EQ(buffer.Write(bytes.data() + 600, 400), 400U);   // exactly up to the limit
    EXPECT_EQ(buffer.Room(), 0U);
    EXPECT_EQ(buffer.Write(bytes.data(), 1), 0U);
    EXPECT_EQ(ReadAll(buffer), bytes);
    EXPECT_EQ(buffer.Room(), 1000U);
}

TEST(TABuffer, FullAtTheDefaultLimitItHasGrownOnlyToTwoMebibytes)
{
    // 1 MiB stored needs a capacity above 1048576: the first doubling of 256 that gets
    // there is 256 x 2^13 = 2097152; nothing beyond the limit is taken.
    TABuffer buffer;
    const std::vector<uint8_t> piece(4096, 0xA5);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(buffer.Write(piece.data(), piece.size()), piece.size());
    EXPECT_EQ(buffer.Count(), size_t{1} << 20);
    EXPECT_EQ(buffer.Capacity(), size_t{2} << 20);
    EXPECT_EQ(buffer.Write(piece.data(), 1), 0U);
    EXPECT_EQ(buffer.Capacity(), size_t{2} << 20);
}

TEST(TABuffer, ConsumerNeverSeesPartOfAWriteAlsoWhenItWraps)
{
    // 24-byte writes into a ring whose size is no multiple of 24: a write often wraps
    // around the end. The consumer must only ever find whole writes.
    TABuffer buffer(1000);
    constexpr uint32_t records = 200000;
    std::thread producer([&] {
        std::vector<uint8_t> record(24);
        for (uint32_t i = 0; i < records;) {
            std::fill(record.begin(), record.end(), static_cast<uint8_t>(i));
            if (buffer.Write(record.data(), 24) == 24)
                ++i;
            else
                std::this_thread::yield();
        }
    });
    uint32_t got = 0;
    bool whole = true;
    bool sameBytes = true;
    std::vector<uint8_t> record(24);
    while (got < records) {
        const size_t count = buffer.Count();
        whole = whole && count % 24 == 0;
        if (count < 24) {
            std::this_thread::yield();
            continue;
        }
        buffer.Read(record.data(), 24);
        sameBytes = sameBytes && std::all_of(record.begin(), record.end(),
                                             [&](uint8_t b) { return b == static_cast<uint8_t>(got); });
        ++got;
    }
    producer.join();
    EXPECT_TRUE(whole) << "a part of a write was visible";
    EXPECT_TRUE(sameBytes);
}

} // namespace
