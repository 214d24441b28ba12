#pragma once

// Looks for what the program cannot run without, in the current folder: data/ with its four
// pictures and its font. When something is missing, prints one line on stderr saying what and where
// it looked, and returns false (the program then exits with status 1).
bool checkRunFolder();
// Brings up the log, SDL, the pictures, the fonts and every global, in the fixed order. Returns
// false when the video cannot be opened.
bool startUp();
// Restores the LCD and hands over to the console's menu. Returns the exit status when the hand-over
// does not happen: 0 where there is no console menu (a normal quit on the desktop), 1 when starting
// it failed.
int shutDown();
// Tests: frees what startUp made so that the next test starts from scratch.
void tearDownForTests();
