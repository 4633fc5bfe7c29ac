#include "support/Communication/tabuffer.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> Sequence(int count, int first = 0)
{
    std::vector<uint8_t> bytes(count);
    for (int i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

std::vector<uint8_t> ReadAll(TABuffer& buffer)
{
    std::vector<uint8_t> bytes(buffer.Count());
    EXPECT_EQ(buffer.Read(bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    return bytes;
}

TEST(TABuffer, ThreeHundredBytesGrowItFrom256To512InOrder)
{
    TABuffer buffer;
    EXPECT_EQ(buffer.Capacity(), 256);
    const auto bytes = Sequence(300);
    EXPECT_EQ(buffer.Write(bytes.data(), 300), 300);
    EXPECT_EQ(buffer.Capacity(), 512);
    EXPECT_EQ(buffer.Count(), 300);
    EXPECT_EQ(ReadAll(buffer), bytes);
    EXPECT_EQ(buffer.Count(), 0);
}

TEST(TABuffer, HoldsCapacityMinusOneBeforeGrowing)
{
    TABuffer buffer;
    const auto bytes = Sequence(256);
    buffer.Write(bytes.data(), 255);
    EXPECT_EQ(buffer.Capacity(), 256);
    buffer.Write(bytes.data() + 255, 1);
    EXPECT_EQ(buffer.Capacity(), 512);
    EXPECT_EQ(ReadAll(buffer), bytes);
}

TEST(TABuffer, WrapsAroundWithoutGrowingWhenThereIsRoom)
{
    TABuffer buffer;
    const auto first = Sequence(200);
    buffer.Write(first.data(), 200);
    std::vector<uint8_t> taken(150);
    EXPECT_EQ(buffer.Read(taken.data(), 150), 150);
    // 50 stored at 150..199; 200 more fit in the 205 free bytes: 56 at the end, 144 from 0.
    const auto second = Sequence(200, 200);
    buffer.Write(second.data(), 200);
    EXPECT_EQ(buffer.Capacity(), 256);
    EXPECT_EQ(buffer.Count(), 250);
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
    EXPECT_EQ(buffer.Capacity(), 512);
    EXPECT_EQ(ReadAll(buffer), std::vector<uint8_t>(all.begin() + 150, all.end()));
}

TEST(TABuffer, PeekLooksWithoutTakingAndSkipDrops)
{
    TABuffer buffer;
    const auto bytes = Sequence(10, 40);
    buffer.Write(bytes.data(), 10);
    EXPECT_EQ(buffer.Peek(0), 40);
    EXPECT_EQ(buffer.Peek(9), 49);
    EXPECT_EQ(buffer.Count(), 10);
    std::vector<uint8_t> copy(4);
    EXPECT_EQ(buffer.Peek(copy.data(), 4), 4);
    EXPECT_EQ(copy, (std::vector<uint8_t>{40, 41, 42, 43}));
    EXPECT_EQ(buffer.Skip(3), 3);
    EXPECT_EQ(buffer.Peek(0), 43);
    EXPECT_EQ(buffer.Skip(100), 7);
    EXPECT_EQ(buffer.Count(), 0);
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
    ASSERT_EQ(buffer.ContiguousFree(), 156);
    uint8_t* place = buffer.GetDirectWrite(156);
    for (int i = 0; i < 156; ++i)
        place[i] = static_cast<uint8_t>(i);
    buffer.SetNDirectWrite(156);
    const auto tail = Sequence(10, 156);
    buffer.Write(tail.data(), 10);
    EXPECT_EQ(buffer.Capacity(), 256);
    EXPECT_EQ(ReadAll(buffer), Sequence(166));
}

TEST(TABuffer, DeclaringMoreThanTheFreePlaceThrowsUserError)
{
    TABuffer buffer;
    buffer.GetDirectWrite(10);
    for (int declared : {256, -1}) {
        try {
            buffer.SetNDirectWrite(declared);
            FAIL() << declared << " bytes declared";
        } catch (const TBaseError& error) {
            EXPECT_EQ(error.Operation(), "TABuffer::SetNDirectWrite");
            EXPECT_EQ(error.Message(), "UserError");
        }
    }
    EXPECT_EQ(buffer.Count(), 0);
    // With the read index at 0, the write index may not reach the end: 256 stored bytes would
    // look like none. 100 stored leave 155 declarable bytes, not 156.
    const auto bytes = Sequence(100);
    buffer.Write(bytes.data(), 100);
    EXPECT_THROW(buffer.SetNDirectWrite(156), TBaseError);
    EXPECT_EQ(buffer.Count(), 100);
    buffer.SetNDirectWrite(155);
    EXPECT_EQ(buffer.Count(), 255);
}

TEST(TABuffer, OneProducerAndOneConsumerMoveAMegabyteInOrder)
{
    TABuffer buffer;
    constexpr int total = 1 << 20;
    std::thread producer([&] {
        std::vector<uint8_t> piece(1000);
        for (int sent = 0; sent < total;) {
            const int n = std::min<int>(1 + sent % 997, total - sent);
            for (int i = 0; i < n; ++i)
                piece[i] = static_cast<uint8_t>((sent + i) % 251);
            if (sent % 3 == 0) {
                uint8_t* place = buffer.GetDirectWrite(n);
                std::copy(piece.begin(), piece.begin() + n, place);
                buffer.SetNDirectWrite(n);
            } else {
                buffer.Write(piece.data(), n);
            }
            sent += n;
        }
    });
    int received = 0;
    bool inOrder = true;
    std::vector<uint8_t> piece(777);
    while (received < total) {
        const int n = buffer.Read(piece.data(), static_cast<int>(piece.size()));
        for (int i = 0; i < n; ++i)
            inOrder = inOrder && piece[i] == static_cast<uint8_t>((received + i) % 251);
        received += n;
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(buffer.Count(), 0);
}

} // namespace
