#include "can/vci/tcandrivervci.h"

#include "can/vci/tcanchannelvci.h"
#include "support/tbaseerror.h"

#include <algorithm>

namespace {

constexpr const char* kOpenOperation = "TCanDriverVCI::OpenChannel";

struct TBoardType {
    const char* Name;
    uint16_t Number;
};

constexpr TBoardType kBoardTypes[] = {
    {"iPCI165ISA", 0}, {"iPCI320ISA", 1}, {"CANdy", 2},           {"tinCAN", 3},
    {"iPCI386", 5},    {"iPCI165PCI", 6}, {"iPCI320PCI", 7},      {"iCP350PCI", 8},
    {"USBtoCAN", 10},  {"CANdyLite", 11}, {"CANaNET", 12},        {"byteflightCARD", 13},
    {"PC-I04PCI", 14}, {"USBtoCAN_Compact", 15},                  {"PC-I03", 50},
};

// The library stays loaded for the rest of the run once a driver has loaded it: the
// registry makes and deletes this driver at every reconfiguration.
std::shared_ptr<const TVci2Library>& LoadedLibrary()
{
    static std::shared_ptr<const TVci2Library> library;
    return library;
}

} // namespace

TCanDriverVCI::TCanDriverVCI()
    : TCanDriverVCI(LibraryFile)
{
}

TCanDriverVCI::TCanDriverVCI(const TAString& libraryFile)
{
    std::shared_ptr<const TVci2Library>& loaded = LoadedLibrary();
    if (!loaded || loaded->FileName() != libraryFile) {
        std::shared_ptr<const TVci2Library> library = TVci2Library::Load(libraryFile);
        if (!library) throw TBaseError("TCanDriverVCI::TCanDriverVCI", "Dll defect or not found");
        loaded = std::move(library);
    }
    library_ = loaded;
}

TCanDriverVCI::~TCanDriverVCI()
{
    CloseAllChannels();
    for (int i = 0; i < boardCount_; ++i)
        library_->CancelBoard(static_cast<uint16_t>(boards_[static_cast<size_t>(i)].Handle));
}

uint16_t TCanDriverVCI::BoardType(const TAString& name)
{
    for (const TBoardType& type : kBoardTypes)
        if (name == type.Name) return type.Number;
    if (name.SubString(0, 3) == "NR_")
        return static_cast<uint16_t>(name.SubString(3).AsInt32(TAString::nmDec));
    throw TBaseError(kOpenOperation, "Unknown card '" + name + "'");
}

std::unique_ptr<TCanChannel> TCanDriverVCI::CreateChannel(const TAString& text)
{
    const uint16_t type = BoardType(text.Word(0));
    const auto index = static_cast<uint16_t>(text.Word(1).AsWord() - 1);

    auto board = std::find_if(boards_.begin(), boards_.begin() + boardCount_,
                              [&](const TBoard& b) { return b.Type == type && b.Index == index; });
    if (board == boards_.begin() + boardCount_) {
        if (boardCount_ >= MaxBoards) throw TBaseError(kOpenOperation, "more than 4 Boards open");
        const int handle = library_->PrepareBoard(type, index);
        if (handle < 0) {
            library_->CancelBoard(static_cast<uint16_t>(handle));
            throw TBaseError(kOpenOperation, "Board prepare error");
        }
        *board = TBoard{handle, type, index, 0};
        ++boardCount_;
    }
    auto channel = std::make_unique<TCanChannelVCI>(*library_, board->Handle, text);
    ++board->Channels;
    return channel;
}

void TCanDriverVCI::DestroyChannel(std::unique_ptr<TCanChannel> channel)
{
    const int handle = static_cast<const TCanChannelVCI&>(*channel).BoardHandle();
    const auto end = boards_.begin() + boardCount_;
    auto board = std::find_if(boards_.begin(), end, [&](const TBoard& b) { return b.Handle == handle; });
    if (board != end && --board->Channels == 0) {
        library_->CancelBoard(static_cast<uint16_t>(board->Handle));
        std::move(board + 1, end, board);
        --boardCount_;
        boards_[boardCount_] = TBoard{};
    }
    channel.reset();
}
