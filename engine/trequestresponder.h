#pragma once
// Answers the J1939 requests that devices on the bus send to the simulator.
//
// A request (PGN 59904, 0xEA00) is a frame with PDU format 0xEA whose PDU specific
// byte is the address asked (0xFF: every node) and whose data bytes 0..2 hold the
// requested PGN, least significant byte first: 0x18EAFF21 with data EC FE 00 is
// device 0x21 asking everyone for the vehicle identification (PGN 65260).
//
// A request addressed to the simulator's source address or to all, for a group of the
// catalogue that the options send, is answered with that group built from the
// catalogue's current values, with the options' source address and priority, due at
// once. A request addressed to the simulator for any other PGN (a group left out
// included) gets a negative acknowledgement (PGN 59392, 0xE800, to all):
//     byte 0   control byte 1 (negative acknowledgement)
//     byte 1   group function value, 0xFF (none)
//     byte 2,3 0xFF
//     byte 4   the address of the device that asked
//     byte 5..7 the requested PGN, least significant byte first
// so device 0x21 asking 0x00 for PGN 0xFECA gets 0x18E8FF00 with 01 FF FF FF 21 CA FE 00.
// A request to all for any other PGN gets nothing; requests addressed to other nodes
// are not ours.
//
// A request for Address Claimed (PGN 60928, data 00 EE 00) is answered by the node's
// address claim (TAddressClaim) when it is on: Address Claimed 0x18EEFF00 for a request to
// us or to all, Cannot Claim 0x18EEFFFE for one to all once the address is lost; a node
// that lost its address answers nothing else. With the claim off it is a PGN like any
// other the simulator does not send.
//
// An answer that is still waiting in the send queue serves every further identical
// request until its first frame leaves: a device that asks again and again gets one
// answer per wait, and the queue cannot grow without bound.

#include "engine/tframeoptions.h"
#include "engine/trequestcounts.h"
#include "fms/tcanframe.h"
#include "fms/tcanhigh.h"

#include <cstdint>
#include <optional>
#include <set>

class TAddressClaim;
class TBusFmsStandard;

class TRequestResponder {
public:
    static constexpr uint32_t RequestPgn = 0xEA00;           // 59904
    static constexpr uint32_t AcknowledgementPgn = 0xE800;   // 59392
    static constexpr uint8_t GlobalAddress = 0xFF;
    static constexpr uint8_t NegativeAcknowledgement = 1;    // control byte

    struct TRequest {
        uint32_t Pgn = 0;           // requested, as its three data bytes give it
        uint8_t Destination = 0;    // the address asked
        uint8_t Requester = 0;      // the source address of the device that asked
    };

    // The request a frame carries: an extended frame of at least 3 bytes with PDU format
    // 0xEA on data page 0 (either priority; bytes past the third are padding); nothing
    // for any other frame.
    static std::optional<TRequest> AsRequest(const TCanFrame& frame);

    // The negative acknowledgement of request, with the options' source address and
    // priority, due at time (µs).
    static TCanHigh NegativeAck(const TRequest& request, const TFrameOptions& options, int64_t time);

    // The message that answers frame, due at now (µs): the requested group or a
    // negative acknowledgement; nothing when frame is no request for the simulator,
    // when no answer is due, or when an answer waiting in the queue already serves it.
    // Counts the request. The group is encoded with the catalogue's values as they
    // stand: the caller applies the validity manipulation first. Passes on WriteToCan's
    // TBaseError (the request then stays unanswered).
    std::optional<TCanHigh> Answer(const TCanFrame& frame, TBusFmsStandard& catalogue, const TFrameOptions& options,
                                   int64_t now);

    // The node's address claim; not owned, nullptr: none (as with the claim off).
    void SetAddressClaim(const TAddressClaim* claim) { claim_ = claim; }

    // A frame left the send queue: an answer of its kind no longer waits.
    void Sent(const TCanFrame& frame);

    // Counts back to 0, nothing waits (a new run).
    void Reset();

    const TRequestCounts& Counts() const { return counts_; }

private:
    // What an answer is: a group (its identifier template) or a negative acknowledgement
    // (requester and PGN); the same key for the frame that carries it.
    static uint64_t GroupKey(uint32_t canId) { return canId & TCanHigh::GroupMask; }
    static uint64_t NackKey(uint8_t requester, uint32_t pgn) { return (1ull << 40) | (uint64_t(requester) << 24) | pgn; }

    // The claim's say on request: an answer (or none) when the claim decides it (a
    // request for Address Claimed, or any request once the address is lost), else
    // nothing and the request is answered as usual.
    std::optional<std::optional<TCanHigh>> AnswerForClaim(const TRequest& request, bool toUs, bool toAll, int64_t now);

    std::set<uint64_t> waiting_;
    const TAddressClaim* claim_ = nullptr;
    TRequestCounts counts_;
};
