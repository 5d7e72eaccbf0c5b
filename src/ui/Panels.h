#pragma once
// The settings panels: a label box and a value box per section of the
// constants file. This part knows the rows and how closing a panel takes them
// over; the window shows the boxes.

#include <string>
#include <vector>

#include "model/Sim.h"
#include "run/RunControl.h"

namespace drivanto {

enum class Panel { Files, CarConstants, ProgramConstants, StartValues, Modes, Strategy };
constexpr int kPanelCount = 6;
// Rows for a strategy's parameters in its panel.
constexpr int kStrategyParameterRows = 6;

// The fixed text of the panel's label box, one label per row.
std::vector<std::string> PanelLabelRows(Panel panel);
// The value box as the panel opens: " ", "Denna ruta kan du ändra i.", then
// the values row by row (numbers with the given decimal separator).
std::vector<std::string> PanelValueRows(const State& s, Panel panel, char decimalSeparator = '.');
// The strategy panel's value box: its name, then a parameter a row as
// NAME=VALUE (the run's strategy, or the thermostat's settings).
std::vector<std::string> StrategyPanelRows(const Sim& sim, char decimalSeparator = '.');

// Closing a panel: the value box's rows are taken over by the panel's own
// rules, except rows equal to those shown when the panel opened (`shown`),
// which keep their values exactly; the files and car-constants panels then rerun the constants
// reader in its reduced form and the map's torque scale, the program-constants panel re-positions
// the drive cycle. The caller redraws and restarts the timer. Throws IoError (a table or cycle file
// that cannot be read).
//
// The rows are taken by their positions, so they are taken over only when the
// box still has as many rows as it showed; otherwise nothing changes and the
// reason comes back (in Swedish, for the window), else "".
std::string TakeOverPanel(Sim& sim, Panel panel, const std::vector<std::string>& rows,
                          const std::vector<std::string>& shown = {});

// The car-folder panel: its text, and closing it with the folder typed.
std::vector<std::string> CarFolderRows();
void TakeOverCarFolder(Sim& sim, const std::string& folder);

// The notice of "Skriv ut konstanter".
std::vector<std::string> PrintNoticeRows();

// A number in fixed-point form with the given decimals, rounded to six
// significant digits first (larger numbers in exponent form).
std::string PanelNumber(double x, int decimals, char decimalSeparator = '.');

}  // namespace drivanto
