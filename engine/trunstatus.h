#pragma once
// The main window's status line in words: what the run is doing and where its frames
// went, as five short values beside their captions:
//
//   Run:         Running 0:01:23            ("Stopped 0:01:23"; "Ready" before a run)
//   Sent:        4151 frames                ("... (CAN-Adapter off)"; ", address 0x00
//                                            claimed" once the run made an address claim)
//   Output log:  drive.asc                  ("none chosen")
//   Written:     4151 frames                ("... (Logfile off)", "none (cannot open)",
//                                            "... (write failed)"; "4154 frames, 3 received"
//                                            when received frames were logged)
//   Timer:       real-time (SCHED_FIFO 10), memory locked
//                                           ("normal (no permission for real-time
//                                            scheduling)", "not started")
//   and, when the output log failed, the system's reason on a line of its own
//   ("No such file or directory"); otherwise, when errors came during the run, how many
//   ("2 errors in this run: see the error window").
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
    uint64_t ReceivedLogged = 0; // of those, frames received from the channel
    bool LogFile = false;        // "Logfile" ticked
    TAString LogFileName;        // the output log chosen last; empty: none
    bool LogOpen = false;        // that file is open
    TAString LogError;           // why it could not be opened or written; empty: it could
    TAString TimerScheduling;    // the transmit timer's scheduling in words; empty: not started
    int RunErrors = 0;           // errors of this run listed in the error window
    TAString AddressClaim;       // TAddressClaim::ShortText; empty: no claim to show
};

struct TRunStatusText {
    TAString Run;
    TAString Sent;
    TAString Log;
    TAString Written;
    TAString Problem;   // the output log's failure, else the run's errors; empty: neither
    TAString Timer;
};

class TRunStatus {
public:
    static constexpr const char* RunCaption = "Run:";
    static constexpr const char* SentCaption = "Sent:";
    static constexpr const char* LogCaption = "Output log:";
    static constexpr const char* WrittenCaption = "Written:";
    static constexpr const char* TimerCaption = "Timer:";

    static TRunStatusText Text(const TRunStatusFacts& facts);
    // Hours, minutes and seconds, the part of a second cut off: 83.9 s is "0:01:23".
    static TAString Elapsed(int64_t micros);
    // The name without its folders: "/home/a/drive.asc" is "drive.asc".
    static TAString BaseName(const TAString& fileName);
};
