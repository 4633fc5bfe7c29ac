#pragma once
// The guard every real-time thread of ours runs under: RLIMIT_RTTIME, per thread of the
// process. A real-time thread that runs for the soft limit of CPU without a blocking
// call gets SIGXCPU, at the hard limit (twice the soft one) SIGKILL, instead of starving
// the machine. A limit already lower stays: the guard is only lowered, never raised.

#include <sys/resource.h>

#include <cerrno>

// softMicros: µs of CPU without a pause. 0 when the limit holds, else the errno of the refusal.
inline int GuardRealTime(long softMicros)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0) return errno;
    const auto soft = static_cast<rlim_t>(softMicros);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > soft) limit.rlim_cur = soft;
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > 2 * soft) limit.rlim_max = 2 * soft;
    if (limit.rlim_cur > limit.rlim_max) limit.rlim_cur = limit.rlim_max;
    return setrlimit(RLIMIT_RTTIME, &limit) == 0 ? 0 : errno;
}
