#pragma once

#include "ui/Layout.h"

#include <vector>

// The automation window's layout, from its client size and DPI alone: the
// tabs on top, the list, a column of buttons at its right, and a row for
// the responder's switch and the state at the bottom.
// `responder`: the responder's switch is shown, the state beside it.
std::vector<Placement> AutomationLayoutFor(int cx, int cy, int dpi, bool responder);
// The least client size in which all of it fits at that DPI.
ClientSize AutomationMinimumSize(int dpi);

// The buttons of the column, top down.
extern const int kAutomationButtons[10];
