#pragma once
// The main window's controls that the run engine reads, as plain state. The window
// writes them when the user changes a control; the engine changes SendCan, LogFile and
// FrameWatchBits itself and tells the window through TRunView::ControlsChanged.

#include "support/tastring.h"

struct TRunControls {
    bool Simulation = true;     // RB_Simulation: the vehicle simulation is the source
    bool InternalLog = false;   // RB_InternLog (else RB_CanLog) when Simulation is false
    bool Repeat = false;        // C_Replay: replay the log again and again
    bool FromFirstFrame = false;   // CB_FromFirstFrame: a log's first frame is due at Start
    bool ValidManip = true;     // CB_VFMActive: apply the validity manipulation
    bool Display = true;        // CB_Display: refresh the data monitor
    bool SendCan = true;        // CB_SendCAN: frames go to the CAN adapter
    bool LogFile = false;       // CB_LogFile: frames go to the output log
    // CB_LogReceived: frames read from the channel go to the output log too, as received
    // ones (an output log in ASC or candump; layout 5 has no direction).
    bool LogReceived = false;
    // Edit1: the data bytes of the last watched frame, 8 bits and one blank per byte.
    TAString FrameWatchBits = "00000000 00000000 00000000 00000000 00000000 00000000 00000000 00000000";
    // Edit2: the parameter group number to watch, hexadecimal ("FEF0").
    TAString FrameWatchPgn = "FEF0";
};
