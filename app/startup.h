#pragma once

// What the program needs before its window is built: Qt's own texts in
// Italian, and the program icon.
// Call once the QApplication exists.
void prepareApplication();
