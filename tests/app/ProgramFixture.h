// The four windows wired as the main block wires them, for the tests that
// drive the program as a whole.
#pragma once

#include <QEvent>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "AppTestSupport.h"
#include "Render.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"

struct TProgram {
    TProgram(const QString& File, TSoundPlayer& Player) : Canvas(File, Player), Panel(Canvas)
    {
        Canvas.SetWindows(&About, &Help, &Panel);
    }
    // Shows the canvas, which opens the file and shows the panel.
    bool Start()
    {
        Canvas.show();
        return QTest::qWaitFor([&] { return Panel.isVisible(); });
    }
    QScrollBar* Bar(tavrin::Slider S) { return Panel.ScrollBars()[std::size_t(S)]; }

    TForm1 Canvas;
    TForm4 Panel;
    TForm2 About;
    TForm3 Help;
};

// A test class whose every case runs the whole program on a fresh bitmap,
// with scripted dialogs and a recording sound player.
class TProgramTest : public QObject {
protected:
    // Makes the bitmap and starts the program on it; false when it does not show.
    bool StartProgram(int Width, int Height, int Seed)
    {
        Dialogs = std::make_unique<TScriptedDialogs>();
        Dir = std::make_unique<QTemporaryDir>();
        File = MakeBitmap(*Dir, QStringLiteral("picture.bmp"), Width, Height, Seed);
        Program = std::make_unique<TProgram>(File, Player);
        return Program->Start();
    }
    // The windows go before the dialogs they may still use, the files last.
    void StopProgram()
    {
        Program.reset();
        Dialogs.reset();
        Dir.reset();
    }

    std::unique_ptr<TScriptedDialogs> Dialogs;
    std::unique_ptr<QTemporaryDir> Dir;
    std::unique_ptr<TProgram> Program;
    TRecordingPlayer Player;
    QString File;
};

// A control or command of a window, by its name in the form.
template <typename T> T* Part(QWidget& Window, const char* Name)
{
    T* part = Window.findChild<T*>(QString::fromLatin1(Name));
    if (!part)
        qFatal("%s has no %s", qPrintable(Window.objectName()), Name);
    return part;
}

// True when the window shows Surface pixel for pixel at its top-left.
inline bool Shows(QWidget& Canvas, const tavrin::TWin& Surface)
{
    const QImage image = Canvas.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < Surface.Height(); ++y)
        for (int x = 0; x < Surface.Width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != SurfacePixel(Surface, x, y))
                return false;
    return true;
}

// Counts the paints of the widget it watches: the canvas paints once per render.
class TPaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* Event) override
    {
        if (Event->type() == QEvent::Paint)
            ++Count;
        return false;
    }
    int Count = 0;
};
