#pragma once
// The main window's client area: the page control, the log pane with its button and label, the mode
// box below; and the geometry and last page kept between runs.

#include <QString>

namespace korva {

class TForm1;

// Makes the client area the form's central widget, at its smallest size; the pages come after.
void BuildClientArea(TForm1& form);
// Keeps the mode box below the client area, however large the window grows.
void PlaceModeBox(TForm1& form);
// The geometry and the page of the last run; the smallest size for a first run.
void RestoreWindowSettings(TForm1& form);
void SaveWindowSettings(TForm1& form);
// The unit scheme chosen last time, kept between runs; "" for each property's own units.
QString RestoredUnitScheme();
void SaveUnitScheme(const QString& scheme);

}  // namespace korva
