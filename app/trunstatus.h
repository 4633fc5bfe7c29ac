#pragma once
// The main window's status line in words: what the run is doing and where its frames
// went. Two lines:
//
//   "Running 0:01:23, 4151 frames sent"        (or "Stopped ...", "Ready" before a run)
//   "Output log drive.asc: 4151 frames"        (or why there is none)
//
// The counts are the engine's for the current (or last) run; the output log is named
// by its file name without the folder.

#include "support/tastring.h"

#include <cstdint>

struct TRunStatusFacts {
    bool Running = false;
    bool Started = false;        // a run has started since the program began
    int64_t SimTimeMicros = 0;   // run time so far
    uint64_t FramesSent = 0;     // handed to the CAN adapter
    bool SendCan = false;        // "CAN-Adapter" ticked and a channel open
    uint64_t FramesLogged = 0;   // written to the output log
    bool LogFile = false;        // "Logfile" ticked
    TAString LogFileName;        // the output log chosen last; empty: none
    bool LogOpen = false;        // that file is open
    TAString LogError;           // why it could not be opened or written; empty: it could
};

class TRunStatus {
public:
    static TAString RunLine(const TRunStatusFacts& facts);
    static TAString LogLine(const TRunStatusFacts& facts);
    // Hours, minutes and seconds, the part of a second cut off: 83.9 s is "0:01:23".
    static TAString Elapsed(int64_t micros);
    // The name without its folders: "/home/a/drive.asc" is "drive.asc".
    static TAString BaseName(const TAString& fileName);
};
