// What the Tavro control dialogs show and edit, kept for the life of the
// process (never saved) so that each dialog opens again with the values last
// chosen in it, whatever movie is open by then.
#pragma once

#include "platform/win32/Types.h"

struct ColorValues {
    LONG brightness = 0;
    LONG saturation = 0;
    LONG contrast = 0;
};

// The milliseconds per frame the Scalability dialog shows, and the codec's
// value when it opened, which Cancel restores.
extern LONG scalabilityMs;
extern LONG savedScalabilityMs;
// The colours the Color dialog shows, and the codec's when it opened.
extern ColorValues currentColors;
extern ColorValues savedColors;
// The last number entered in the Access Key dialog; -1 before the first.
extern LONG storedAccessKey;

// Back to the values of a fresh run.
void ResetCodecDialogState();
