// One QApplication on the offscreen platform for a test binary, created on
// first use on the main thread, with the built-in codecs registered and the
// silent sound output chosen, so the tests need neither a display nor a sound
// server.
#pragma once

#include "codecs/builtin/BuiltinCodecs.h"
#include "platform/wave/WaveOut.h"

#include <QApplication>
#include <QtTest/QTest>

#include <cstdlib>

namespace cadmo::test {

inline QApplication& TestApplication() {
    static QApplication* app = [] {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr)
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
        WaveSetBackend(WaveBackend::Null);
        RegisterBuiltinCodecs();
        static int argc = 1;
        static char name[] = "cadmo-test";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Lets queued calls (posted commands, fit-window requests) run.
inline void Settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace cadmo::test
