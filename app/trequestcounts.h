#pragma once
// What became of the J1939 requests of a run that were meant for the simulator
// (addressed to its source address or to all).

#include "support/tastring.h"

#include <cstdint>
#include <string>

struct TRequestCounts {
    uint64_t Received = 0;   // requests addressed to the simulator or to all
    uint64_t Answered = 0;   // answered with the requested group
    uint64_t Refused = 0;    // answered with a negative acknowledgement
    // The rest were requests to all for groups the simulator does not send: no answer.

    // "Requests: 3 received, 2 answered, 1 refused"
    TAString Text() const
    {
        return "Requests: " + TAString(std::to_string(Received)) + " received, " + TAString(std::to_string(Answered)) +
               " answered, " + TAString(std::to_string(Refused)) + " refused";
    }

    friend bool operator==(const TRequestCounts&, const TRequestCounts&) = default;
};
