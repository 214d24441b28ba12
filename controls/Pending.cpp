// Placeholders until the screens' controls land; this file is deleted then.
#include "controls/Controller.h"

void handleEditor() {}
