#include "can/vector/tcandrivervector.h"

#include "can/vector/tcanchannelvector.h"
#include "support/tbaseerror.h"

#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr const char* kDriverOperation = "TCanDrvVector::TCanDrvVector";
// What a library that cannot be loaded reports in place of ncdOpenDriver's status.
constexpr int32_t kNoLibraryStatus = 201;

struct TCardType {
    const char* Name;
    int32_t HwType;
};

// The card names of the channel text and the library's hardware type numbers.
constexpr TCardType kCardTypes[] = {
    {"Virtual", 1},     {"CANcardX", 2},     {"CANpari", 3},      {"CAN-AC2", 5},
    {"CAN-AC2-PCI", 6}, {"CANcardY", 12},    {"CANcardXL", 15},   {"CANcard2", 17},
    {"EDICcard", 19},   {"CANcaseXL", 21},   {"CANboardXL", 25},  {"CANboardXL_C", 27},
    {"First", -1},
};

// Closes the library's driver unless released: a driver open that fails half-way
// leaves nothing open behind it.
class TOpenDriverGuard {
public:
    explicit TOpenDriverGuard(const TVectorLibrary& library) : library_(&library) {}
    ~TOpenDriverGuard() { if (library_) library_->CloseDriver(); }
    TOpenDriverGuard(const TOpenDriverGuard&) = delete;
    TOpenDriverGuard& operator=(const TOpenDriverGuard&) = delete;
    void Release() { library_ = nullptr; }

private:
    const TVectorLibrary* library_;
};

} // namespace

TAString& VectorDllPath()
{
    static TAString path("vcand32.dll");
    return path;
}

TCanDriverVector::TEvent::TEvent()
    : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

TCanDriverVector::TEvent::~TEvent()
{
    if (handle_ >= 0) close(handle_);
}

TCanDriverVector::TCanDriverVector()
    : TCanDriverVector(VectorDllPath())
{
}

TCanDriverVector::TCanDriverVector(const TAString& libraryFile)
{
    if (!event_.IsValid()) throw TBaseError(kDriverOperation, "CreateEvent failed");

    // A library path from the settings is loaded only from a file that is safe to run.
    if (const std::optional<TAString> refusal = TSharedLibrary::PathRefusal(libraryFile))
        throw TBaseError(kDriverOperation, "ncdOpenDriver" + TAString(kNoLibraryStatus),
                         "the library is not loaded: " + *refusal);
    library_ = TVectorLibrary::Load(libraryFile);
    const int32_t openStatus = library_ ? library_->OpenDriver() : kNoLibraryStatus;
    if (!library_)
        throw TBaseError(kDriverOperation, "ncdOpenDriver" + TAString(openStatus),
                         "the library '" + libraryFile + "' could not be loaded or lacks a function of the driver");
    if (openStatus != TVectorLibrary::Success)
        throw TBaseError(kDriverOperation, "ncdOpenDriver" + TAString(openStatus));
    TOpenDriverGuard openDriver(*library_);

    int32_t count = 0;
    TVectorLibrary::Status status = library_->GetDriverConfig(&count, nullptr);
    if (status != TVectorLibrary::Success)
        throw TBaseError(kDriverOperation, "ncdGetDriverConfig" + TAString(int32_t{status}));
    std::vector<unsigned char> config;
    try {
        if (count < 0) throw std::length_error("negative channel count");
        // At least one byte, so that the library always gets a buffer on this call.
        config.resize(static_cast<size_t>(count) * TVectorLibrary::DriverConfigBytesPerChannel + 1);
    } catch (const std::exception&) {
        throw TBaseError(kDriverOperation, "Memory Error");
    }
    status = library_->GetDriverConfig(&count, config.data());
    if (status != TVectorLibrary::Success)
        throw TBaseError(kDriverOperation, "ncdGetDriverConfig" + TAString(int32_t{status}));
    libraryChannels_ = count;
    openDriver.Release();
}

TCanDriverVector::~TCanDriverVector()
{
    // Channels first: their ports belong to the library's driver.
    while (ChannelCount() > 0) {
        try {
            CloseChannel(Channel(0));
        } catch (const TBaseError&) {
            // Nothing is reported at the end of the run.
        }
    }
    library_->CloseDriver();
}

TCanDriverVector::TChannelId TCanDriverVector::DecodeChannelID(const TAString& text)
{
    TChannelId id;
    const TAString card = text.Word(0);
    for (const TCardType& type : kCardTypes)
        if (card == type.Name) id.HwType = type.HwType;
    if (card.SubString(0, 3) == "NR_") id.HwType = card.SubString(3).AsInt32(TAString::nmDec);
    if (id.HwType == 0) throw TBaseError("TCanDriverVector::DecodeChannelID", "Card not supported");
    id.HwIndex = int32_t{text.Word(1).AsWord()} - 1;
    id.HwChannel = int32_t{text.Word(2).AsWord()} - 1;
    return id;
}

std::unique_ptr<TCanChannel> TCanDriverVector::CreateChannel(const TAString& text)
{
    return std::make_unique<TCanChannelVector>(*library_, event_.Handle(), text);
}

void TCanDriverVector::DestroyChannel(std::unique_ptr<TCanChannel> channel)
{
    static_cast<TCanChannelVector&>(*channel).Close();
}
