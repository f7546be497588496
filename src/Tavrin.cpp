// The main block: the application object, the four windows, the message loop.
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "DisplayPlatform.h"
#include "Preferences.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "ZoomView.h"
#include "framework/Application.h"
#include "framework/SoundPlayer.h"

namespace {

const char* const ResetOption = "reset-preferences";

struct TCommandLine {
    QString File; // empty: ask
    std::optional<TZoomChoice> Zoom; // none: as the canvas remembers it
};

// Parses the command line; prints help, the version or an error and exits
// where asked to, and forgets the preferences and exits when asked to.
TCommandLine ParseCommandLine(const QCoreApplication& Application)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Turns, places, slices and reflects a picture interactively.\n\n"
        "On a Wayland desktop the windows go through XWayland whenever it answers at\n"
        "DISPLAY, so that the image opens at the screen's top-left corner and the control\n"
        "panel stays on top; otherwise, or with QT_QPA_PLATFORM=wayland, they run on\n"
        "Wayland itself, where the compositor places them."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QString::fromLatin1(ResetOption),
                      QStringLiteral("Forget what Tavrin remembers between runs (the sound "
                                     "switch, the folders, the export settings and the recent "
                                     "files), then exit.")});
    const QCommandLineOption zoom(
        QStringLiteral("zoom"),
        QStringLiteral("Start zoomed: \"fit\" shows the whole picture on the screen, a number "
                       "from 6.25 to 1600 is a percentage. Without it: the zoom chosen last, at "
                       "first actual size."),
        QStringLiteral("fit|PERCENT"));
    parser.addOption(zoom);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("The picture to open, in any format Tavrin reads; "
                                                "asked for when absent."),
                                 QStringLiteral("[file]"));
    parser.process(Application);
    if (parser.isSet(QString::fromLatin1(ResetOption))) {
        if (!ResetPreferences())
            std::exit(1);
        std::puts("Tavrin's preferences are forgotten.");
        std::exit(0);
    }
    TCommandLine line;
    const QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        line.File = files.constFirst();
    if (parser.isSet(zoom)) {
        line.Zoom = ReadZoomChoice(parser.value(zoom));
        if (!line.Zoom) {
            std::fprintf(stderr, "tavrin: --zoom takes \"fit\" or a percentage from 6.25 to 1600, "
                                 "not \"%s\".\n", qPrintable(parser.value(zoom)));
            std::exit(EXIT_FAILURE); // as for the parser's own errors
        }
    }
    return line;
}

// Help, version and forgetting the preferences need no display: they are answered without the windows.
bool AsksForTextOnly(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--")
            break;
        for (std::string_view option :
             {"-h", "-?", "--help", "--help-all", "-v", "--version", "--reset-preferences"})
            if (argument == option)
                return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    if (AsksForTextOnly(argc, argv)) {
        // On a terminal the program goes by the command's name.
        QCoreApplication::setApplicationName(QStringLiteral("tavrin"));
        QCoreApplication console(argc, argv);
        ParseCommandLine(console); // prints and exits
        return 0;
    }

    QCoreApplication::setApplicationName(QStringLiteral("Tavrin"));
    TDisplayConnection display;
    // On Wayland the compositor finds the icon and the launcher by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(TAVRIN_APP_ID));
    TApplication Application(argc, argv);
    display.Connected();
    TApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.png")));
    const TCommandLine line = ParseCommandLine(Application);
    TQtSoundPlayer Sounds;
    TForm1 Form1(line.File, Sounds);
    if (line.Zoom)
        Form1.StartZoomed(*line.Zoom);
    Form1.StartOpening();
    TForm2 Form2;
    TForm3 Form3;
    TForm4 Form4(Form1);
    Form1.SetWindows(&Form2, &Form3, &Form4);
    Form1.show();
    const int result = Application.exec();
    // The closing sound's wait runs the event loop: what it delivers still
    // finds every window there, gone from the screen.
    Form4.hide();
    Form3.hide();
    Form2.hide();
    Form1.FormDestroy();
    return result;
}
