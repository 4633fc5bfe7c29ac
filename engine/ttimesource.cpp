#include "engine/ttimesource.h"

#include <ctime>

long double TMonotonicTimeSource::Seconds() const
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long double>(ts.tv_sec) + static_cast<long double>(ts.tv_nsec) / 1e9L;
}

const TMonotonicTimeSource& TMonotonicTimeSource::Instance()
{
    static const TMonotonicTimeSource source;
    return source;
}
