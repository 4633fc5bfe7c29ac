#pragma once
// The whole program started in a folder of its own whose settings file picks the
// simulation adapter (an in-memory channel): the windows as a user first sees them.

#include "app/ui/tquorvellaapp.h"
#include "fakeuserquery.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>

// Writes the settings file into dir and starts the program there; nullptr when the
// file cannot be written.
inline std::unique_ptr<TQuorvellaApp> StartSimulationApp(TFakeUserQuery& query, const QTemporaryDir& dir)
{
    QFile settings(dir.filePath("Quorvella.xml"));
    if (!settings.open(QIODevice::WriteOnly)) return nullptr;
    settings.write("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<Quorvella>\n <CanAdapter>\n  <Simulation>\n"
                   "   <DriverName>Simulation</DriverName>\n   <Comm>RAM 7 7</Comm>\n  </Simulation>\n"
                   " </CanAdapter>\n</Quorvella>\n");
    settings.close();
    TQuorvellaApp::TSetup setup;
    setup.WorkingDirectory = TAString(dir.path().toStdString());
    return std::make_unique<TQuorvellaApp>(query, std::move(setup));
}
