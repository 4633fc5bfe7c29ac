#pragma once
// The frame lines of an ASC output log, for tests that look at what went out and came in.

#include <array>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace asctest {

// A frame line of an ASC file: time (µs), identifier, "Rx" or "Tx", data.
struct TAscLine {
    int64_t Time = 0;
    uint32_t Id = 0;
    std::string Direction;
    std::array<uint8_t, 8> Data{};
};

inline std::vector<TAscLine> AscFrames(const std::string& path)
{
    std::vector<TAscLine> frames;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream line(text);
        double seconds = 0;
        int channel = 0;
        std::string id, d;
        int length = 0;
        TAscLine f;
        if (!(line >> seconds >> channel >> id >> f.Direction >> d >> length)) continue;
        f.Time = static_cast<int64_t>(seconds * 1e6 + 0.5);
        f.Id = static_cast<uint32_t>(std::stoul(id, nullptr, 16));
        for (uint8_t& b : f.Data) {
            unsigned byte = 0;
            line >> std::hex >> byte;
            b = static_cast<uint8_t>(byte);
        }
        frames.push_back(f);
    }
    return frames;
}

}  // namespace asctest
