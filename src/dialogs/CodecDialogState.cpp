#include "dialogs/CodecDialogState.h"

LONG scalabilityMs = 0;
LONG savedScalabilityMs = 0;
ColorValues currentColors;
ColorValues savedColors;
LONG storedAccessKey = -1;

void ResetCodecDialogState() {
    scalabilityMs = 0;
    savedScalabilityMs = 0;
    currentColors = {};
    savedColors = {};
    storedAccessKey = -1;
}
