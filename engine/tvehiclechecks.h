#pragma once
// Whether a command by name can be carried out on the vehicle: the names of the model's
// values and their ranges (those of the cockpit's controls), the catalogue's signals
// with the validity choices each offers, the catalogue's parameter groups, and the
// identification fields' rules. Each check says why not ("150 is outside its range, 0
// to 100"), empty when it can.
//
// Holds copies of everything it checks against, taken when it is made, and never
// changes afterwards: any thread may use it while the run's thread changes the model
// (the control API checks a request on its own thread).

#include "support/tastring.h"

#include <cstdint>
#include <memory>
#include <vector>

class TBusFmsStandard;
class TLkw;
class TValidManip;

class TVehicleChecks {
public:
    // The names lkw has now, with a catalogue and validity rows of FMS version "00.02".
    explicit TVehicleChecks(const TLkw& lkw);
    ~TVehicleChecks();
    TVehicleChecks(const TVehicleChecks&) = delete;
    TVehicleChecks& operator=(const TVehicleChecks&) = delete;

    bool HasValue(const TAString& name) const;
    // "the vehicle model has no value named 'X'", "150 is outside its range, 0 to 100".
    TAString Set(const TAString& name, double value) const;
    static TAString TellTale(int n, int state);
    // field: "E_FzgID" (vehicle), "E_DID1" or "E_DID2" (drivers).
    static TAString Identification(const char* field, const TAString& text);
    bool HasSignal(const TAString& signal) const;
    // "no signal is named 'X'", "'hot' is not a choice of 'Engine speed' (...)".
    TAString Force(const TAString& signal, const TAString& state) const;
    TAString Release(const TAString& signal) const;
    TAString Group(uint32_t pgn) const;

private:
    std::vector<TAString> names_;
    std::unique_ptr<const TBusFmsStandard> catalogue_;
    std::unique_ptr<const TValidManip> validity_;
};
