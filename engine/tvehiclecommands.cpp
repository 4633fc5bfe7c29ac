#include "engine/tvehiclecommands.h"

#include "engine/tframeoptions.h"
#include "engine/toptionseditor.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvalidmanip.h"
#include "sim/tlkw.h"

#include <string>

TVehicleCommands::TVehicleCommands(TLkw& lkw, TValidManip& validity, TFrameOptions& options,
                                   const TBusFmsStandard& catalogue)
    : lkw_(lkw), validity_(validity), options_(options), catalogue_(catalogue)
{
}

void TVehicleCommands::Set(const TAString& name, double value)
{
    // The pedals and the gear go through the model's own setters, which also move what
    // depends on them, as the cockpit's controls do.
    if (name == "Gaspedal") {
        lkw_.SetAccelerator(value);
    } else if (name == "Bremspedal") {
        lkw_.SetBrake(value);
    } else if (name == "Gang") {
        lkw_.SetGear(static_cast<int>(value));
    } else if (name == "Tempomat") {
        // Switching takes the present speed as the set speed, as the cockpit's box does.
        lkw_.SetCruiseControl(value != 0.0);
    } else {
        lkw_.SetMV(name, value);
    }
}

void TVehicleCommands::Starter()
{
    lkw_.StartEngine();
}

void TVehicleCommands::SetTellTale(int n, int state)
{
    std::string tellTales = lkw_.GetTellTales().str();
    tellTales.resize(41, '0');
    tellTales[static_cast<std::size_t>(n - 1)] = static_cast<char>('0' + state);
    lkw_.SetTellTales(TAString(tellTales));
}

void TVehicleCommands::SetIdentification(const char* field, const TAString& text)
{
    const TAString name(field);
    if (name == "E_FzgID") {
        lkw_.SetVehicleId(text);
    } else if (name == "E_DID1") {
        lkw_.SetDriverId1(text);
    } else if (name == "E_DID2") {
        lkw_.SetDriverId2(text);
    }
}

void TVehicleCommands::Force(const TAString& signal, const TAString& state)
{
    validity_.Force(signal, state);
}

void TVehicleCommands::Release(const TAString& signal)
{
    validity_.Force(signal, "Valid Signal");
}

void TVehicleCommands::SendGroup(uint32_t pgn, bool send)
{
    const int index = TOptionsEditor::FrameIndexOfPgn(catalogue_, pgn);
    if (index >= 0 && index < TFrameOptions::MaxFlags) options_.FrameFlags[static_cast<std::size_t>(index)] = send ? 1 : 0;
}
