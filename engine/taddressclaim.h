#pragma once
// The simulated vehicle as a J1939 node: it claims its source address when a run
// starts, holds its other traffic back while the claim may still be contested, and
// keeps or gives up the address when another node claims the same one.
//
// Address Claimed (PGN 60928, 0xEE00) goes to the global address with priority 6 and
// carries the node's 64-bit NAME, least significant byte first: NAME
// 0x1000000000000001 from address 0x21 is 0x18EEFF21 with 01 00 00 00 00 00 00 10.
// Cannot Claim is the same message from the null address 254: 0x18EEFFFE.
//
// NAME, from bit 0 (J1939's network management layout):
//   bits  0..20  identity number        bits 40..47  function
//   bits 21..31  manufacturer code      bit  48      reserved
//   bits 32..34  ECU instance           bits 49..55  vehicle system
//   bits 35..39  function instance      bits 56..59  vehicle system instance
//   bits 60..62  industry group         bit  63      arbitrary address capable
// The null address 254 and the global address 255 are no node's: a source address of
// either is not claimed (the traffic goes out as before, and the user is told).
//
// The numerically lower NAME has the higher priority. The simulator cannot pick
// another address (bit 63 is 0 in its default and is not looked at): a node that
// loses its address falls silent.
//
// A node that claims an address of 128 to 247 sends nothing else for ClaimWait after
// its claim, so that a node of higher priority can still contest it; below 128 and
// from 248 on it goes on in the next millisecond (the claim has the run's first
// millisecond to itself). The send schedule then starts when the wait is over
// (ScheduleDelay: every group's times move by the wait, so periods and phases stay
// those of the schedule); answers to requests that come during the wait are held and
// leave when it is over.
//
// Plain state, driven by the engine's steps: no clock of its own, times in µs of the
// run. Everything runs on the engine's thread.

#include "fms/tcanframe.h"
#include "fms/tcanhigh.h"
#include "support/tastring.h"

#include <cstdint>
#include <optional>
#include <vector>

class TAddressClaim {
public:
    static constexpr uint32_t ClaimPgn = 0xEE00;         // 60928, Address Claimed / Cannot Claim
    static constexpr uint8_t NullAddress = 0xFE;         // 254: the source of Cannot Claim
    static constexpr uint8_t GlobalAddress = 0xFF;
    static constexpr uint8_t ClaimPriority = 6;
    static constexpr int64_t ClaimWait = 250000;         // µs
    static constexpr int64_t ClaimStep = 1000;           // µs, the claim's own millisecond
    static constexpr uint8_t FirstWaitAddress = 128;     // addresses 128..247 wait
    static constexpr uint8_t LastWaitAddress = 247;
    // Industry group 1 (on-highway equipment), identity number 1, every other field 0,
    // not arbitrary address capable.
    static constexpr uint64_t DefaultName = 0x1000000000000001ull;

    enum class TState {
        Off,       // no claim: switched off, not in simulation mode, or no run yet
        Claimed,   // the address is ours (during the wait too)
        Lost,      // a node with a NAME of higher priority claimed it: silent
        Unclaimable,   // the source address is 254 or 255: no claim, traffic as without one
    };

    // What a received frame asks of the node.
    enum class TOutcome {
        None,         // not a claim of our address, or we are not claiming
        ClaimAgain,   // a NAME of lower priority contested it: we send Address Claimed again
        Lost,         // a NAME of higher priority took it: we send Cannot Claim and fall silent
    };

    // Settings, taken at the next Start.
    void SetEnabled(bool enabled) { enabled_ = enabled; }
    bool Enabled() const { return enabled_; }
    void SetName(uint64_t name) { name_ = name; }
    uint64_t Name() const { return name_; }

    // A run starts (now, µs) with the source address: with the claim on, the state is
    // Claimed and the Address Claimed message is returned, due at now; with it off,
    // the state is Off and nothing is returned. The null and global addresses are no
    // node's: the state is Unclaimable and nothing is returned.
    std::optional<TCanHigh> Start(uint8_t address, int64_t now);
    // A run without a claim (a log is replayed with its own addresses): the state is Off.
    void Reset();
    // The run has ended: the state stays readable; nothing is held any more.
    void Stop();

    // A frame read from the bus at now. Address Claimed from another node for our
    // address: ClaimAgain when our NAME is the lower number, else Lost. Our own NAME (an echo of our claim) and every other frame:
    // None.
    TOutcome Received(const TCanFrame& frame, int64_t now);

    // The message that says where the node stands, due at now: Address Claimed while
    // Claimed, Cannot Claim once Lost, nothing while Off. It answers a request for
    // Address Claimed and contests a claim of lower priority.
    std::optional<TCanHigh> Message(int64_t now) const;

    // True when the node sends nothing but its claim messages at now: during the wait
    // after its claim, and once it has lost its address.
    bool Silent(int64_t now) const;
    bool Lost() const { return state_ == TState::Lost; }
    TState State() const { return state_; }
    uint8_t Address() const { return address_; }
    // The NAME that took our address (valid once Lost; 0 when no node did, for the
    // null or global address).
    uint64_t Winner() const { return winner_; }

    // How much later than the run's start the send schedule starts: ClaimWait for a
    // claimed address of 128 to 247, ClaimStep for the others, 0 without a claim.
    int64_t ScheduleDelay() const;
    // During the wait: keeps m to leave when the wait is over. False when there is no
    // wait now (the caller sends m as usual).
    bool Hold(const TCanHigh& m, int64_t now);
    // Once the wait is over: the held messages in the order they came, each due at now
    // at the earliest; empty before that and afterwards.
    std::vector<TCanHigh> TakeHeld(int64_t now);
    std::size_t HeldCount() const { return held_.size(); }
    // Drops the held messages and returns how many there were (the address was lost).
    std::size_t DropHeld();

    // "claimed 0x21, NAME 1000000000000001" (", waiting until 0.250 s" during the
    // wait), "lost 0x21 to NAME 0FFFFFFFFFFFFFFF: sending nothing"; with no claim in
    // this run "claims at the start of a simulation run, NAME 1000000000000001", or
    // "off" when switched off; "not claimed: 0xFE is the null address, no node's; the
    // frames go out without a claim".
    TAString StateText(int64_t now) const;
    // The state in a few words for a status line: "0x21 claimed", "0x21 lost, sending
    // nothing", "0xFE not claimed"; empty when no claim was made in this run.
    TAString ShortText() const;
    // 16 hexadecimal digits, as --name takes it.
    static TAString NameText(uint64_t name);
    // Parses 1 to 16 hexadecimal digits (an optional "0x" or "x" before them): the
    // NAME, or nothing for any other text.
    static std::optional<uint64_t> ParseName(const TAString& text);

    // True for an Address Claimed / Cannot Claim frame or message identifier.
    static bool IsClaim(uint32_t id) { return (id & 0x03FF0000u) == (ClaimPgn << 8); }

private:
    TCanHigh Build(uint8_t source, int64_t now) const;

    bool enabled_ = false;
    uint64_t name_ = DefaultName;
    TState state_ = TState::Off;
    uint8_t address_ = 0;
    int64_t startedAt_ = 0;   // µs, when the claim was made
    int64_t waitUntil_ = 0;   // µs; no wait when it is not later than the claim
    uint64_t winner_ = 0;
    std::vector<TCanHigh> held_;
};
