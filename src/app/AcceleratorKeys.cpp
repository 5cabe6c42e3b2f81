#include "app/AcceleratorKeys.h"

namespace {

Qt::KeyboardModifiers Modifiers(BYTE fVirt) {
    Qt::KeyboardModifiers m;
    if (fVirt & FCONTROL)
        m |= Qt::ControlModifier;
    if (fVirt & FSHIFT)
        m |= Qt::ShiftModifier;
    if (fVirt & FALT)
        m |= Qt::AltModifier;
    return m;
}

int VirtualKeyToQt(WORD vk) {
    switch (vk) {
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_SPACE:
        return Qt::Key_Space;
    case VK_END:
        return Qt::Key_End;
    case VK_HOME:
        return Qt::Key_Home;
    case VK_LEFT:
        return Qt::Key_Left;
    case VK_RIGHT:
        return Qt::Key_Right;
    default:
        // Digits and capital letters are their own virtual keys.
        if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z'))
            return vk;
        return 0;
    }
}

} // namespace

QList<QKeySequence> KeySequencesFor(const ACCEL& accel) {
    const Qt::KeyboardModifiers modifiers = Modifiers(accel.fVirt);
    if (accel.fVirt & FVIRTKEY) {
        const int key = VirtualKeyToQt(accel.key);
        if (key == 0)
            return {};
        return {QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key)))};
    }
    // A character: control characters come from Ctrl with the letter, and
    // Tab, Return and Escape type their own codes too.
    const WORD c = accel.key;
    if (c == 9)
        return {QKeySequence(QKeyCombination(modifiers, Qt::Key_Tab)),
                QKeySequence(QKeyCombination(modifiers | Qt::ControlModifier, Qt::Key_I))};
    if (c >= 1 && c <= 26)
        return {QKeySequence(
            QKeyCombination(modifiers | Qt::ControlModifier, static_cast<Qt::Key>('A' + c - 1)))};
    if (c >= 0x20 && c < 0x7F) {
        int key = c;
        if (key >= 'a' && key <= 'z')
            key = key - 'a' + 'A';
        return {QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(key)))};
    }
    return {};
}
