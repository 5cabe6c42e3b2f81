// The accelerator table's entries as the toolkit's key sequences.
#pragma once

#include "res/Accelerators.h"

#include <QKeySequence>
#include <QList>

// The key sequences that produce `accel`: one for a virtual key with its
// modifiers; for a character, the keys that type it (character 9 is both Tab
// and Ctrl+I). Empty for a key this table never uses.
QList<QKeySequence> KeySequencesFor(const ACCEL& accel);
