#pragma once

// Brings up the log, SDL, the pictures, the fonts and every global, in the fixed order. Returns
// false when the video cannot be opened.
bool startUp();
// Restores the LCD and hands over to the console's menu. Returns the exit status when the hand-over
// is not possible.
int shutDown();
// Tests: frees what startUp made so that the next test starts from scratch.
void tearDownForTests();
