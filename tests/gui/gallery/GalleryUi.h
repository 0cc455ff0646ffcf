#pragma once
// The gallery's second part: the Preferences dialog and the progress widget (needs elemorama_ui).
#include "Gallery.h"

void addUiPages(QWidget& window, std::vector<Shot>& shots);
