#pragma once
// What became of the J1939 requests of a run that were meant for the simulator
// (addressed to its source address or to all).

#include "support/tastring.h"

#include <cstdint>
#include <string>

struct TRequestCounts {
    uint64_t Received = 0;   // requests addressed to the simulator or to all
    uint64_t Answered = 0;   // an answer with the requested group was queued
    uint64_t Refused = 0;    // a negative acknowledgement was queued
    uint64_t Served = 0;     // the same answer, still waiting to leave, serves them too
    uint64_t Ignored = 0;    // shorter than the 3 bytes of a PGN: not a request one can answer
    // The rest were requests to all for groups the simulator does not send: no answer.

    // "Requests: 3 received, 2 answered, 1 refused" (", 4 served by a waiting answer",
    // ", 1 ignored (shorter than 3 bytes)" when there are such).
    TAString Text() const
    {
        TAString text = "Requests: " + TAString(std::to_string(Received)) + " received, " +
                        TAString(std::to_string(Answered)) + " answered, " + TAString(std::to_string(Refused)) +
                        " refused";
        if (Served > 0) text += ", " + TAString(std::to_string(Served)) + " served by a waiting answer";
        if (Ignored > 0) text += ", " + TAString(std::to_string(Ignored)) + " ignored (shorter than 3 bytes)";
        return text;
    }

    friend bool operator==(const TRequestCounts&, const TRequestCounts&) = default;
};
