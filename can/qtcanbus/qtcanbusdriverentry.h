#pragma once
// The registry row of the Qt CAN bus driver. The registry's own table (CanDriverTable)
// holds only the drivers that need no Qt; a program that links the Qt CAN bus driver
// gives its registry QtCanBusDriverTable() instead:
//     TCanAdapters registry(QtCanBusDriverTable());
//     registry.OpenChannel("QtCanBus socketcan can0");
//     TCanAdapters::ChannelDescription(settingsKey, QtCanBusDriverTable());

#include "can/tcandriverentry.h"

// Identifier "QtCanBus"; the driver is deleted when its last channel closes.
TCanDriverEntry QtCanBusDriverEntry();

// CanDriverTable() followed by QtCanBusDriverEntry() (slot 4).
const std::vector<TCanDriverEntry>& QtCanBusDriverTable();

// The description after "QtCanBus " from the adapter's settings key: the texts of the
// children Plugin and Interface, then, when a child Baudrate with a text exists, that
// text; single blanks between. A missing Plugin or Interface throws
// TTreeError("TCanAdapters::ChannelDescription", "Key[<name>] not found"); an empty one, or
// any of the three with more than one word, "Key[<name>] not one word".
//     Plugin "socketcan", Interface "can0", Baudrate "250000"  ->  "socketcan can0 250000"
TAString QtCanBusDescription(const TTreeKey& key);
