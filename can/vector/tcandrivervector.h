#pragma once
// The Vector driver (identifier "Vector3.2"): CAN channels on Vector hardware through
// the vendor's driver library, loaded at run time from VectorDllPath().
//
// The driver opens the library's driver when it is made and closes it (and unloads the
// library) when it goes away; the registry keeps it for the whole run. Channel text:
// "<card> <index> <channel> [<bit rate> <sjw> <tseg1> <tseg2> <sam> [<presc>]]",
// for example "CANcaseXL 1 2 500000 1 5 2 1" (index and channel counted from 1).

#include "can/tcandriver.h"
#include "can/vector/tvectorlibrary.h"
#include "support/tastring.h"

#include <cstdint>
#include <memory>

// The file name (or full path) the Vector library is loaded from, "vcand32.dll" until
// the application sets it from its settings. Window thread only.
TAString& VectorDllPath();

class TCanDriverVector : public TCanDriver {
public:
    // A card of the library's numbering; index and channel counted from 0.
    struct TChannelId {
        int32_t HwType = 0;
        int32_t HwIndex = 0;
        int32_t HwChannel = 0;
        friend bool operator==(const TChannelId&, const TChannelId&) = default;
    };

    // Loads the library from VectorDllPath().
    TCanDriverVector();
    // Loads the library from libraryFile. Errors, from "TCanDrvVector::TCanDrvVector":
    // "CreateEvent failed"; "ncdOpenDriver" + status (201 when the library or one of
    // its functions is missing); "ncdGetDriverConfig" + status; "Memory Error".
    explicit TCanDriverVector(const TAString& libraryFile);
    // Closes every channel (errors are not reported), the library's driver and the
    // library.
    ~TCanDriverVector() override;

    // Card type name (word 0; a name of the card table or "NR_<number>"), index and
    // channel (words 1 and 2, from 1) of a channel text. Throws TBaseError(
    // "TCanDriverVector::DecodeChannelID", "Card not supported") for another name,
    // and the number parser's errors for index or channel.
    static TChannelId DecodeChannelID(const TAString& text);

    // The number of channels the library reported when the driver was opened.
    int32_t LibraryChannelCount() const { return libraryChannels_; }

protected:
    TAString OperationClass() const override { return "TCanDriverVector"; }
    std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) override;
    // Closes the channel's port; its errors reach the caller of CloseChannel, and the
    // channel is deleted all the same.
    void DestroyChannel(std::unique_ptr<TCanChannel> channel) override;

private:
    // The platform's notification event: auto-reset, initially not signalled. The
    // library is handed a pointer to it; the program never waits on it.
    class TEvent {
    public:
        TEvent();
        ~TEvent();
        TEvent(const TEvent&) = delete;
        TEvent& operator=(const TEvent&) = delete;
        bool IsValid() const { return handle_ >= 0; }
        TVectorLibrary::EventHandle* Handle() { return &handle_; }

    private:
        TVectorLibrary::EventHandle handle_ = -1;
    };

    TEvent event_;
    std::unique_ptr<TVectorLibrary> library_;
    int32_t libraryChannels_ = 0;
};
