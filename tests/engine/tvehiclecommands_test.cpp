// Commands by name change the model as the cockpit's own controls do.
#include "engine/tvehiclecommands.h"

#include "engine/tframeoptions.h"
#include "engine/trecordingcockpit.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvalidmanip.h"
#include "sim/tlkw.h"

#include <gtest/gtest.h>

namespace {

// The model stepped for seconds at its 20 ms step.
void Drive(TLkw& lkw, double seconds)
{
    for (int i = 0; i < static_cast<int>(seconds / 0.02 + 0.5); ++i) lkw.Step(0.02);
}

TEST(TVehicleCommands, CruiseControlByNameHoldsThePresentSpeedAsTheCockpitBoxDoes)
{
    const TBusFmsStandard catalogue("00.02");
    TValidManip validity(catalogue);
    TFrameOptions options;
    // Two cockpits as the program starts: first gear, auto clutch, the pedal down.
    TRecordingCockpit box;
    TRecordingCockpit name;
    TLkw& byBox = box.Lkw();
    TLkw& byName = name.Lkw();
    TVehicleCommands commands(byName, validity, options, catalogue);
    for (TLkw* lkw : {&byBox, &byName}) {
        lkw->StartEngine();
        Drive(*lkw, 5);
    }
    ASSERT_GT(byName.GetMV("Geschwindigkeit"), 5.0);
    byBox.SetCruiseControl(true);
    commands.Set("Tempomat", 1);
    EXPECT_EQ(byName.GetMV("Tempomat"), 1.0);
    for (TLkw* lkw : {&byBox, &byName}) {
        lkw->SetAccelerator(0);
        Drive(*lkw, 5);
    }
    ASSERT_GT(byName.GetMV("Geschwindigkeit"), 5.0);
    // The same set speed and controller start: the same drive, step for step.
    EXPECT_EQ(byName.GetMV("Geschwindigkeit"), byBox.GetMV("Geschwindigkeit"));
    EXPECT_EQ(byName.GetMV("Gaspedal"), byBox.GetMV("Gaspedal"));

    byBox.SetCruiseControl(false);
    commands.Set("Tempomat", 0);
    EXPECT_EQ(byName.GetMV("Tempomat"), 0.0);
}

}  // namespace
