// The MIDI learn page of the options screen: every learnable target with the controls mapped to
// it. Touch a target (it turns amber: waiting), move a control, and the mapping is saved; "clear"
// removes the mappings of the target touched last; "back" returns to the filters page.
#pragma once

// Learn page geometry: three columns of twenty rows; "more" turns to the next sixty targets.
constexpr int LearnColumns = 3;
constexpr int LearnRows = 20;
constexpr int LearnTop = 18;
constexpr int LearnRowHeight = 10;
constexpr int LearnColumnWidth = 106;

void installLearnPage();
void removeLearnPage();
// The target shown at a screen point, -1 for none.
int learnTargetAt(int x, int y);
// The target touched last (its mappings are what "clear" removes), -1 for none.
int learnMarkedTarget();
