#pragma once
// The IXXAT VCI 2 driver (identifier "Vci2.0"): CAN channels on IXXAT boards through
// the VCI 2 library, loaded at run time ("Vci11un6.dll") and kept loaded for the rest
// of the run once it has been loaded.
//
// Up to four boards are open at a time; a board is prepared by the first channel that
// names it and cancelled when its last channel closes. Channel text: "<board> <index>
// <channel> [<bit rate> <sjw> <tseg1> <tseg2> <sam> <presc>]", for example
// "USBtoCAN 1 2 250000 2 8 7 1 2" (index and channel counted from 1; the bit rate word
// is not used). Errors carry the operations "TCanDriverVCI::TCanDriverVCI" and
// "TCanDriverVCI::OpenChannel".

#include "can/tcandriver.h"
#include "can/vci/tvci2library.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <memory>

class TCanDriverVCI : public TCanDriver {
public:
    static constexpr const char* LibraryFile = "Vci11un6.dll";
    static constexpr int MaxBoards = 4;

    TCanDriverVCI();
    // Loads libraryFile unless the library of that name is loaded already. Throws
    // TBaseError("TCanDriverVCI::TCanDriverVCI", "Dll defect or not found").
    explicit TCanDriverVCI(const TAString& libraryFile);
    // Closes every channel, then cancels the boards still prepared.
    ~TCanDriverVCI() override;

    // The board type number of a board name (or "NR_<number>"). Throws TBaseError(
    // "TCanDriverVCI::OpenChannel", "Unknown card '<name>'") for another name.
    static uint16_t BoardType(const TAString& name);

    int BoardCount() const { return boardCount_; }

protected:
    TAString OperationClass() const override { return "TCanDriverVCI"; }
    // Errors: "Unknown card '<name>'", "more than 4 Boards open", "Board prepare error";
    // and those of TCanChannelVCI. A board prepared for a channel that then fails stays
    // prepared (without channels) for the next channel on it.
    std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) override;
    // Cancels the channel's board when it was the board's last channel.
    void DestroyChannel(std::unique_ptr<TCanChannel> channel) override;

private:
    struct TBoard {
        int Handle = 0;
        uint16_t Type = 0;
        uint16_t Index = 0;
        uint16_t Channels = 0;
    };

    std::shared_ptr<const TVci2Library> library_;
    std::array<TBoard, MaxBoards> boards_{};
    uint16_t boardCount_ = 0;
};
