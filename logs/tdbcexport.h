#pragma once
// A DBC file (the CAN database text format of the usual CAN tools) for the catalogue,
// built from the catalogue itself so that it always describes what is sent.
//
// One message per parameter group, under its acronym ("CCVS"), with its J1939
// identifier (extended; priority and source address as given) and the simulator as
// its only transmitter, node NodeName. Every signal with its start bit, length, Intel
// byte order, factor, offset, valid range and unit; the name as the data monitor shows
// it is the signal's comment. Enumerations carry a value table: their texts, plus the
// not-available and error codes their width has room for. The tell-tale group is a
// multiplexed message: the block number (bits 0..3) selects which 15 tell-tales the
// 3-bit fields hold. A group whose text may outgrow 8 bytes (vehicle and driver
// identification) goes out as a broadcast transfer; a DBC cannot describe one, so its
// message has no signals and its comment says how the transfer is made.
//
// Example lines for CCVS with priority 6 and source address 0x00:
//     BO_ 2566844672 CCVS: 8 Quorvella
//      SG_ Wheel_based_speed : 8|16@1+ (0.00390625,0) [0|250.9965] "Km/h" Vector__XXX
//
// The text is ISO 8859-1, as DBC readers expect: "°C" is the one byte 0xB0 and "C".
// Lines end with "\n".

#include "support/tastring.h"

#include <cstdint>

class TBusFmsStandard;

class TDbcExport {
public:
    static constexpr const char* NodeName = "Quorvella";

    static TAString Text(const TBusFmsStandard& catalogue, uint8_t sourceAddress, uint8_t priority);

    // The 32-bit word a DBC writes for an extended identifier: bit 31 set.
    // CCVS at priority 6, source address 0x00: 0x18FEF100 | 0x80000000 = 2566844672.
    static uint32_t MessageId(uint32_t canId, uint8_t sourceAddress, uint8_t priority);

    // A signal name a DBC takes: each run of characters other than letters and digits
    // becomes one "_", none at either end. "Ramp / Wheel Chair Lift Position" gives
    // "Ramp_Wheel_Chair_Lift_Position".
    static TAString Symbol(const TAString& name);
};
