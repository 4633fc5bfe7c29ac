#pragma once
// What can be done to the simulated vehicle from outside a window, by name: the runner's
// options (--set, --starter, --telltale, --force, --vin, --driver1, --driver2, --drop), a
// scenario's steps and the control API all go through here, so that each changes the
// model the same way. Each command assumes that TVehicleChecks accepted it.
//
// Runs on the thread that steps the model.

#include "support/tastring.h"

#include <cstdint>

class TBusFmsStandard;
class TLkw;
class TValidManip;
struct TFrameOptions;

class TVehicleCommands {
public:
    // Not owned; each must outlive this.
    TVehicleCommands(TLkw& lkw, TValidManip& validity, TFrameOptions& options, const TBusFmsStandard& catalogue);

    // A value of the model.
    void Set(const TAString& name, double value);
    void Starter();
    // Tell-tale n (1..41) in state 0..7.
    void SetTellTale(int n, int state);
    // field: "E_FzgID" (vehicle), "E_DID1" or "E_DID2" (drivers).
    void SetIdentification(const char* field, const TAString& text);
    // A signal's validity choice ("error"), applied at once.
    void Force(const TAString& signal, const TAString& state);
    // The signal sent with its own state again.
    void Release(const TAString& signal);
    // A parameter group of the catalogue, left out or sent.
    void SendGroup(uint32_t pgn, bool send);

    TLkw& Lkw() { return lkw_; }

private:
    TLkw& lkw_;
    TValidManip& validity_;
    TFrameOptions& options_;
    const TBusFmsStandard& catalogue_;
};
