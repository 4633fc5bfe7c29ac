#pragma once
// The control functions every test double of a vendor library exports besides the
// vendor's interface (see doublecore.h).

#include <cstdint>

extern "C" {
// Forgets the log, the failures, the values set and the queued frames.
using QvDoubleResetFn = void (*)();
// The calls since the last reset, one line each, every line ending in '\n'.
using QvDoubleLogFn = const char* (*)();
// Calls from..from+count-1 of function return status.
using QvDoubleFailFn = void (*)(const char* function, int from, int count, int64_t status);
// Sets a named answer of the double (channel mask, handles, clock, ...).
using QvDoubleSetFn = void (*)(const char* key, int64_t value);
// Queues one frame for the library's receive function.
using QvDoublePushRxFn = void (*)(uint32_t stamp, uint32_t id, const uint8_t* data);
}
