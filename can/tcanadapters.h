#pragma once
// The adapter registry: opens a CAN channel from a one-line channel description whose
// first word names the driver, making the driver on first use.
//
// The registry owns the drivers (one slot per row of its driver table), each driver
// its channels. A driver that is not StaysLoaded is deleted as soon as it has no
// channel left after a CloseChannel; a driver keeps its slot after a failed channel
// open. Used from the window thread only.
//
// Example: "Simulation RAM 1 2,RAM 2 1" asks the "Simulation" driver for a channel
// with the text "RAM 1 2,RAM 2 1".

#include "can/tcandriverentry.h"
#include "support/tbaseerror.h"
#include "support/tastring.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TCanChannel;
class TCanDriver;
struct TCanFrame;
class TTreeKey;

class TCanAdapters {
public:
    // The program's drivers (CanDriverTable()).
    TCanAdapters();
    // Another table (tests, or a build with further drivers).
    explicit TCanAdapters(std::vector<TCanDriverEntry> table);
    // Deletes every driver, which deletes its channels; slots in order.
    ~TCanAdapters();
    TCanAdapters(const TCanAdapters&) = delete;
    TCanAdapters& operator=(const TCanAdapters&) = delete;

    // The new channel, owned by its driver; give it back through CloseChannel.
    // A first word that names no driver (also an empty description) throws
    // TBaseError("TCanAdapters::OpenChannel", "Driver not supported"); a row that makes
    // no driver (one not in this build) throws "Driver not available" from there. Errors
    // of the driver's making or of its OpenChannel pass unchanged.
    TCanChannel* OpenChannel(const TAString& description);
    // How long CloseChannel waits by default for frames a channel has not sent yet.
    static constexpr std::chrono::milliseconds DefaultDrain{2000};

    // Lets an owned channel send what it still holds for at most drain (TCanChannel::Drain),
    // then offers the channel to every existing driver in slot order; afterwards deletes
    // each driver without channels that does not stay loaded. Returns how many frames
    // written to the channel were not delivered. Null or a channel no driver owns closes
    // nothing and returns 0.
    uint64_t CloseChannel(TCanChannel* channel, std::chrono::milliseconds drain = DefaultDrain);

    // What a close hands to the program: every frame the channel took from its medium
    // (received), and what goes wrong meanwhile (error: a Read's error, the receiving
    // losses of the whole run, the frames not delivered).
    struct TClosing {
        std::function<void(const TCanFrame&)> received;
        std::function<void(const TBaseError&)> error;
    };
    // Closes in order: lets the channel send what it holds for at most drain (still
    // receiving meanwhile), stops it taking from its medium, hands every frame it has
    // taken to closing.received, reports its receiving losses, then closes it as above.
    // Returns the frames not delivered (also reported, as NotDelivered).
    uint64_t CloseChannel(TCanChannel* channel, std::chrono::milliseconds drain, const TClosing& closing);
    static constexpr int MaxFramesAtClose = 1000000;
    // What the user is told when CloseChannel returned frames > 0:
    // TBaseError("TCanAdapters::CloseChannel", "Frames not delivered", "<frames> frames ...").
    static TBaseError NotDelivered(uint64_t frames, std::chrono::milliseconds drain);

    // The driver in the slot of identifier, or null when the slot is empty or unknown.
    const TCanDriver* Driver(const TAString& identifier) const;

    // The channel description from the adapter's settings key: the key's name, one
    // blank, then what the table's row of that name assembles (nothing for a name
    // that is in no row: the first-start key "-" gives "- ").
    static TAString ChannelDescription(const TTreeKey& key,
                                       const std::vector<TCanDriverEntry>& table = CanDriverTable());

private:
    struct Slot {
        TCanDriverEntry entry;
        std::unique_ptr<TCanDriver> driver;
    };
    std::vector<Slot> slots_;
};
