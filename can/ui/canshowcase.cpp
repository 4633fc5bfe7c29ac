#include "can/ui/canshowcase.h"

#include "can/ui/tfcanchannel.h"
#include "support/txmlelement.h"

namespace CanShowcase {

void SimulationPanel(TFCanChannel& dialog)
{
    TXmlElement key("Simulation");
    key["DriverName"]("<TEXT>") = "Simulation";
    key["Comm[0]"]("<TEXT>") = "HDD a.txt a.txt";
    key["Comm[1]"]("<TEXT>") = "HDD b.txt dummy";
    key["Comm[2]"]("<TEXT>") = "HDD c.txt dummy";
    dialog.Fill(key);
}

void CardWithBitTiming(TFCanChannel& dialog)
{
    TXmlElement key("Vector3.2");
    key["DriverName"]("<TEXT>") = "Vector Informatik GmbH (VCANL 3.2)";
    key["CardType"]("<TEXT>") = "CANcaseXL";
    key["CardIndex"]("<TEXT>") = "1";
    key["Channel"]("<TEXT>") = "2";
    key["Baudrate"]("<TEXT>") = "250000";
    key["sjw"]("<TEXT>") = "2";
    key["tseg1"]("<TEXT>") = "8";
    key["tseg2"]("<TEXT>") = "7";
    key["sam"]("<TEXT>") = "1";
    key["presc"]("<TEXT>") = "2";
    dialog.Fill(key);
}

}  // namespace CanShowcase
