#pragma once
// Shared machinery of the test doubles of the vendors' CAN libraries.
//
// A double records every call of the vendor interface as one text line, answers with
// values the test may set by name, and fails on demand: calls from..from+count-1 of a
// function (counted from 1 since the last reset) return a given status instead. The
// test reaches this through the extra exported functions QvDouble* (doublecontrol.h).
// Test code only: these libraries never stand in for the vendors' libraries elsewhere.

#include <cstdint>
#include <deque>
#include <string>

#define QV_DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

namespace qvdouble {

struct TRx {
    uint32_t Stamp = 0;
    uint32_t Id = 0;
    uint8_t Data[8] = {};
};

// Counts a call of function; true (and the status to return) when it is to fail.
bool Fails(const char* function, int64_t& status);
void Log(const std::string& line);
// The value set under key, or def.
int64_t Get(const char* key, int64_t def);
std::deque<TRx>& RxQueue();

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string HexBytes(const uint8_t* data, int count);

// Defined by each double: puts its handle counters back to their first values.
void RestartCounters();

} // namespace qvdouble
