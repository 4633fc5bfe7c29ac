#include "doublecore.h"

#include "doublecontrol.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace qvdouble {
namespace {

struct TFailure {
    std::string Function;
    int From = 0;
    int Count = 0;
    int64_t Status = 0;
};

struct TState {
    std::string log;
    std::map<std::string, int> calls;
    std::vector<TFailure> failures;
    std::map<std::string, int64_t> values;
    std::deque<TRx> rx;
};

TState& State()
{
    static TState state;
    return state;
}

} // namespace

bool Fails(const char* function, int64_t& status)
{
    const int call = ++State().calls[function];
    for (const TFailure& failure : State().failures) {
        if (failure.Function == function && call >= failure.From &&
            call < failure.From + failure.Count) {
            status = failure.Status;
            return true;
        }
    }
    return false;
}

void Log(const std::string& line)
{
    State().log += line;
    State().log += '\n';
}

int64_t Get(const char* key, int64_t def)
{
    auto it = State().values.find(key);
    return it == State().values.end() ? def : it->second;
}

std::deque<TRx>& RxQueue() { return State().rx; }

std::string Format(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

std::string HexBytes(const uint8_t* data, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += Format(i ? " %02X" : "%02X", data[i]);
    return text;
}

} // namespace qvdouble

QV_DOUBLE_EXPORT void QvDoubleReset()
{
    qvdouble::State() = qvdouble::TState();
    qvdouble::RestartCounters();
}

QV_DOUBLE_EXPORT const char* QvDoubleLog() { return qvdouble::State().log.c_str(); }

QV_DOUBLE_EXPORT void QvDoubleFail(const char* function, int from, int count, int64_t status)
{
    qvdouble::State().failures.push_back({function, from, count, status});
}

QV_DOUBLE_EXPORT void QvDoubleSet(const char* key, int64_t value) { qvdouble::State().values[key] = value; }

QV_DOUBLE_EXPORT void QvDoublePushRx(uint32_t stamp, uint32_t id, const uint8_t* data)
{
    qvdouble::TRx rx;
    rx.Stamp = stamp;
    rx.Id = id;
    std::memcpy(rx.Data, data, sizeof rx.Data);
    qvdouble::State().rx.push_back(rx);
}
