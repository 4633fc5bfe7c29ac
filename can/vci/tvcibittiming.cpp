#include "can/vci/tvcibittiming.h"

TVciBitTiming TVciBitTiming::FromChannelText(const TAString& text)
{
    const auto word = [&text](int index) { return int{text.Word(index).AsWord(TAString::nmAuto, 0)}; };
    const int sjw = word(4);
    const int tseg1 = word(5);
    const int tseg2 = word(6);
    const int sam = text.Word(7) == "3" ? 1 : 0;
    const int presc = word(8);
    TVciBitTiming timing;
    timing.Bt0 = static_cast<uint8_t>(((presc - 1) & 0x3F) | ((sjw * 64) & 0xC0));
    timing.Bt1 = static_cast<uint8_t>(((tseg1 - 1) & 0x0F) | (((tseg2 - 1) * 16) & 0x70) |
                                      ((sam * 128) & 0x80));
    return timing;
}
