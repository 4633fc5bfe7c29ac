#pragma once
// Writes what the user does to the vehicle, with its time, as a scenario that plays the
// same drive back: each action becomes the line its scenario step reads ("12.34 set
// Gaspedal=40"). A change the user made at run time t reaches the model at its first
// step at or after t, and so does the step "t ...": played back, the model sees every
// change in the same step, and the frames are the same.
//
// Runs on the thread that steps the model (the window's).

#include "support/tastring.h"

#include <cstdint>

class TScenarioRecorder {
public:
    // A new recording from now (µs of the run): its time 0.
    void Start(int64_t now);
    bool Recording() const { return recording_; }
    // Ends it at now with a stop step; Text() then holds the whole drive.
    void Finish(int64_t now);

    // The user's actions at now (µs of the run); nothing while not recording.
    void Set(int64_t now, const TAString& name, double value);
    void Starter(int64_t now);
    void TellTale(int64_t now, int n, int state);
    // field: "E_FzgID" (vehicle), "E_DID1" or "E_DID2" (drivers).
    void Identification(int64_t now, const char* field, const TAString& text);
    void Force(int64_t now, const TAString& signal, const TAString& state);
    void Release(int64_t now, const TAString& signal);
    void SendGroup(int64_t now, uint32_t pgn, bool send);

    // The scenario so far.
    const TAString& Text() const { return text_; }

private:
    void Line(int64_t now, const TAString& action);

    bool recording_ = false;
    int64_t start_ = 0;
    TAString text_;
};
