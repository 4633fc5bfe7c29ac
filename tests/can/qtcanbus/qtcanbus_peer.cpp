// The other process of the Qt CAN bus two-process test.
//
//   qtcanbus_peer <description> <count>
//
// Opens the channel (the text after "QtCanBus "), sends Hello every 20 ms until Go
// arrives, then sends count numbered frames from BackwardBase and receives count numbered
// frames from ForwardBase. Exit code: 0 every frame arrived in order, 1 a
// frame was wrong or missing, 2 the channel did not open, 3 no Go or not all frames
// within 20 s, 4 bad arguments.

#include "can/qtcanbus/tcanchannelqtcanbus.h"
#include "support/tbaseerror.h"
#include "tests/can/qtcanbus/virtualbus.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

int main(int argc, char** argv)
{
    using namespace std::chrono;
    if (argc != 3) return 4;
    const uint32_t count = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    std::unique_ptr<TCanChannelQtCanBus> channel;
    try {
        channel = std::make_unique<TCanChannelQtCanBus>(argv[1]);
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "qtcanbus_peer: %s %s\n", e.Operation().c_str(), e.Message().c_str());
        return 2;
    }
    const auto deadline = steady_clock::now() + seconds(20);
    try {
        bool go = false;
        auto nextHello = steady_clock::now();
        while (!go) {
            if (steady_clock::now() > deadline) return 3;
            if (steady_clock::now() >= nextHello) {
                channel->Write(TCanFrame(virtualbus::HelloId, {}));
                nextHello += milliseconds(20);
            }
            // Frames behind the Go are already numbered ones: stop at the Go.
            for (TCanFrame f = channel->Read(); !f.IsNone(); f = channel->Read()) {
                if (f.Id == virtualbus::GoId) {
                    go = true;
                    break;
                }
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
        for (uint32_t i = 0; i < count; ++i) channel->Write(virtualbus::Numbered(virtualbus::BackwardBase, i));
        uint32_t received = 0;
        while (received < count) {
            if (steady_clock::now() > deadline) return 3;
            for (TCanFrame f = channel->Read(); !f.IsNone(); f = channel->Read()) {
                if (f.Id == virtualbus::GoId) continue;
                if (!virtualbus::IsNumbered(f, virtualbus::ForwardBase, received)) {
                    std::fprintf(stderr, "qtcanbus_peer: frame %u wrong (id %08X)\n", received, f.Id);
                    return 1;
                }
                ++received;
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "qtcanbus_peer: %s %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
    return 0;
}
