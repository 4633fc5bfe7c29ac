#pragma once
// One row of the driver table through which the registry (TCanAdapters) reaches
// every driver. A driver is added by adding its row to CanDriverTable(); the
// registry's logic does not change.

#include "can/tcandriver.h"
#include "support/tastring.h"

#include <functional>
#include <memory>
#include <vector>

class TTreeKey;

struct TCanDriverEntry {
    using Factory = std::function<std::unique_ptr<TCanDriver>()>;
    // The channel description after "<Identifier> ", built from the adapter's
    // settings key (whose own name is the identifier).
    using Describer = std::function<TAString(const TTreeKey& key)>;

    // The first word of a channel description naming this driver, compared exactly.
    TAString Identifier;
    // What the channel dialog shows for the driver.
    TAString Caption;
    // Makes the driver; may throw (a missing vendor library). A driver whose factory
    // threw is not kept, so the next request tries again. Empty: not in this build.
    Factory Create;
    // True: once made, the driver stays until the registry ends (the Vector library is
    // loaded once per run). False: the registry deletes it when its last channel closes.
    bool StaysLoaded = false;
    Describer Describe;
};

// The drivers of the program in registry slot order: "Simulation", "Vector3.2",
// "Vci2.0", "Vci3.0".
const std::vector<TCanDriverEntry>& CanDriverTable();

// Description assemblers shared by the table's rows.
// The stored, non-empty Comm[i] children's texts in index order, joined by commas.
TAString CommListDescription(const TTreeKey& key);
// CardType, CardIndex, Channel; when a Baudrate child exists also Baudrate, sjw,
// tseg1, tseg2, sam, presc; single blanks between. A missing child throws
// TTreeError("TCanAdapters::ChannelDescription", "Key[<name>] not found"); one whose text
// is empty or more than one word throws "Key[<name>] not one word", with a detail that
// names the setting and its text.
TAString CardDescription(const TTreeKey& key);
