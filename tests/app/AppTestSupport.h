// What the window tests share: scripted dialogs, a recording sound player,
// bitmap fixtures and a main() that runs under the program's application object.
#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <vector>

#include "ImageFiles.h"
#include "TWin.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "framework/SoundPlayer.h"

// Answers the program's dialogs from queues and records what was asked.
// An empty answer queue cancels.
class TScriptedDialogs : public TDialogs {
public:
    TScriptedDialogs() { SetDialogs(this); }
    ~TScriptedDialogs() override { SetDialogs(nullptr); }

    QString OpenFileName(QWidget*, const TFileDialog& Dialog, const QString& Folder) override
    {
        Asked.push_back(Dialog);
        OpenFolder = Folder;
        return OpenAnswers.isEmpty() ? QString() : OpenAnswers.takeFirst();
    }
    QString SaveFileName(QWidget*, const TFileDialog& Dialog, const QString& Initial) override
    {
        Asked.push_back(Dialog);
        SaveInitial = Initial;
        return SaveAnswers.isEmpty() ? QString() : SaveAnswers.takeFirst();
    }
    void ShowError(QWidget*, const QString& Message) override { Errors << Message; }
    bool Ask(QWidget*, const QString& Question) override
    {
        Questions << Question;
        return !AskAnswers.empty() && AskAnswers.takeFirst();
    }

    QStringList OpenAnswers;
    QStringList SaveAnswers;
    std::vector<TFileDialog> Asked;
    QString OpenFolder;
    QString SaveInitial;
    QStringList Errors;
    QList<bool> AskAnswers;
    QStringList Questions;
};

class TRecordingPlayer : public TSoundPlayer {
public:
    void Play(const QString& Name, TPlayback Mode) override
    {
        Names << Name;
        Modes.push_back(Mode);
    }
    void Clear()
    {
        Names.clear();
        Modes.clear();
    }
    QStringList Names;
    std::vector<TPlayback> Modes;
};

// Colour of pixel (X, Y) of fixture Seed: no symmetry, so a flip, a turn or
// a channel swap shows. Returned as 0xRRGGBB.
inline quint32 FixtureColour(int X, int Y, int Seed)
{
    const quint32 blue = (X * 19 + Seed * 5 + 11) & 0xFF;
    const quint32 green = (Y * 23 + Seed * 3 + 2 * X) & 0xFF;
    const quint32 red = (X * Y * 5 + Seed * 41 + 7) & 0xFF;
    return red << 16 | green << 8 | blue;
}

// Writes a Width x Height fixture into Dir, in the format of Name's
// extension, and returns its path.
inline QString MakeImage(const QTemporaryDir& Dir, const QString& Name, int Width, int Height,
                         int Seed = 0)
{
    tavrin::TWin surface(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            const quint32 colour = FixtureColour(x, y, Seed);
            surface.Row(y)[3 * x] = colour & 0xFF;
            surface.Row(y)[3 * x + 1] = (colour >> 8) & 0xFF;
            surface.Row(y)[3 * x + 2] = (colour >> 16) & 0xFF;
        }
    const QString path = Dir.filePath(Name);
    tavrin::WriteImageFile(surface, path);
    return path;
}

// Writes a Width x Height fixture bitmap into Dir and returns its path.
inline QString MakeBitmap(const QTemporaryDir& Dir, const QString& Name, int Width, int Height,
                          int Seed = 0)
{
    return MakeImage(Dir, Name, Width, Height, Seed);
}

// The pixel at (X, Y) of a surface as 0xRRGGBB, read straight from its bytes.
inline quint32 SurfacePixel(const tavrin::TWin& Surface, int X, int Y)
{
    const std::uint8_t* pixel = Surface.Row(Y) + 3 * X;
    return quint32(pixel[2]) << 16 | quint32(pixel[1]) << 8 | pixel[0];
}

inline bool SamePixels(const tavrin::TWin& A, const tavrin::TWin& B)
{
    if (A.Width() != B.Width() || A.Height() != B.Height())
        return false;
    for (int y = 0; y < A.Height(); ++y)
        if (!std::equal(A.Row(y), A.Row(y) + 3 * A.Width(), B.Row(y)))
            return false;
    return true;
}

// Runs the message loop with Action queued; returns the loop's exit code,
// or -1 when nothing ended the loop within GiveUpMs.
inline int RunUntilExit(const std::function<void()>& Action, int GiveUpMs = 10000)
{
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    giveUp.start(GiveUpMs);
    QTimer::singleShot(0, Action);
    return QCoreApplication::exec();
}

// QtTest's own message handler, which logs every message of a test.
inline QtMessageHandler QtTestMessages = nullptr;

// A handler entered again while it runs only warns in the program; in every
// window test it is a failure of the test function that caused it.
inline void FailOnReentry(QtMsgType Type, const QMessageLogContext& Context, const QString& Text)
{
    QtTestMessages(Type, Context, Text);
    if (Type == QtWarningMsg && Text.contains(QLatin1String("entered again while it runs")))
        QTest::qFail(qPrintable(Text), Context.file ? Context.file : __FILE__,
                     Context.file ? Context.line : __LINE__);
}

// QTest::qExec in its three steps, with FailOnReentry in front of the log
// that the first step opens. What the program remembers goes to a private
// folder, fresh for every run.
template <typename TestClass> int RunWindowTest(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
    TApplication application(argc, argv);
    TestClass test;
    QTest::qInit(&test, argc, argv);
    QtTestMessages = qInstallMessageHandler(FailOnReentry);
    const int failures = QTest::qRun();
    QTest::qCleanup();
    return failures;
}

#define TAVRIN_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char** argv) { return RunWindowTest<TestClass>(argc, argv); }
