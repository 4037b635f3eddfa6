#pragma once

#include <QString>
#include <QStringList>

#include "station/LotUnits.h"

namespace kestrel::stationapp {

// What kestrel-station was started with; an empty firmware leaves the lot to the window.
struct StationCommandLine {
    QString firmware;
    QStringList ports;
    bool allUsb = false;
    QString logFile, database, operatorName, stationName, lot, approved, screenshot;
    int count = 0;
    UnitOptions units;  // what each box gets of its own
    bool showHelp = false, showVersion = false;
    QString helpText, error;
    // A field given on the command line wins over the one remembered.
    bool operatorGiven = false, stationGiven = false, lotGiven = false;
};

StationCommandLine ParseStationCommandLine(const QStringList& arguments);

}  // namespace kestrel::stationapp
