#pragma once

// What the program needs before its window is built: the embedded faces
// that stand in for "MS Sans Serif" and "Verdana" where those are missing,
// Qt's own texts in Italian, and the program icon.
// Call once the QApplication exists.
void prepareApplication();
