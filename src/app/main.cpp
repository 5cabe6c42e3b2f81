// Entry point of the player: reads the command line, chooses the sound output,
// registers the built-in codecs, shows the main window, opens the file named
// on the command line, and runs the event loop.
#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/SeekBar.h"
#include "codecs/builtin/BuiltinCodecs.h"
#include "platform/wave/WaveOut.h"
#include "res/Resource.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string program = argc > 0 ? argv[0] : "cadmo";

    // Options are read before the toolkit starts, so --help and --version
    // answer without a display.
    const CommandLine line = ParseCommandLine(args);
    switch (line.action) {
    case CommandLine::Action::Help:
        std::fputs(UsageText(program).c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(VersionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", program.c_str(),
                     line.error.c_str(), program.c_str());
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    if (!line.audio.empty()) {
        WaveBackend backend = WaveBackend::Auto;
        if (WaveParseBackend(line.audio.c_str(), &backend))
            WaveSetBackend(backend);
    }
    RegisterBuiltinCodecs();

    // The toolkit sees only the program name: the file argument is ours, and
    // a file named like a toolkit option must not be taken as one.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("Cadmo"));
    QApplication::setApplicationVersion(QStringLiteral(CADMO_VERSION));
    // The installed menu entry and icon carry this name: the desktop matches
    // the window to its entry by it, and the icon theme holds our icon under
    // it once installed; a program run from the build tree shows the play
    // button instead.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.cadmo.Cadmo"));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("org.cadmo.Cadmo"), QIcon(PlayButtonPixmap())));

    MainWindow window;
    window.show();
    if (line.quitAfterMs > 0) {
        // A modal box (an error about the file, the About box) runs an event
        // loop of its own, and closing the window would leave the program
        // waiting in it: after the Exit command, every event loop is ended.
        QTimer::singleShot(line.quitAfterMs, &window, [&window] {
            window.OnCommand(IDM_EXIT);
            QCoreApplication::exit(0);
        });
    }
    // The file is opened from inside the event loop, so that the quit above
    // also reaches an error box shown by the open.
    QTimer::singleShot(0, &window, [&window, &line] {
        if (!line.file.empty())
            window.OpenMovieFile(QFile::decodeName(line.file.c_str()), nullptr);
        if (line.play) {
            // Queued behind the first Redraw that the open posted.
            window.PostCommand(IDM_PLAY);
            if (line.playForMs > 0)
                QTimer::singleShot(line.playForMs, &window, [&window] { window.SendCommand(IDM_STOP); });
        }
    });
    return app.exec();
}
