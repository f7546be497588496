// The platform the windows run on, seen from outside: the program itself is
// started where no X server answers at DISPLAY. Wayland takes over where a
// compositor runs; where none does, the program says so in one line and
// ends with status 1, never by a crash.
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TPlatformTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void noDisplayIsOneLineAndStatusOne();
    void waylandTakesOverWhereNoXServerAnswers();

private:
    QByteArray Display = ":4242";
    QTemporaryDir Runtime;
    QProcess Program;
    QProcess Compositor;
};

void TPlatformTest::init()
{
    while (QFile::exists("/tmp/.X11-unix/X" + Display.mid(1)))
        Display = ':' + QByteArray::number(Display.mid(1).toInt() + 1);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable :
         {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_IM_MODULE", "XDG_SESSION_TYPE"})
        environment.remove(QString::fromLatin1(variable));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime.path());
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(Display));
    Program.setProcessEnvironment(environment);
    Compositor.setProcessEnvironment(environment);
}

void TPlatformTest::cleanup()
{
    for (QProcess* process : {&Program, &Compositor}) {
        process->kill();
        process->waitForFinished();
    }
}

void TPlatformTest::noDisplayIsOneLineAndStatusOne()
{
    Program.start(QStringLiteral(TAVRIN_PROGRAM), {QStringLiteral(TAVRIN_PICTURE)});
    QVERIFY(Program.waitForFinished(20000));
    QCOMPARE(Program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(Program.exitCode(), 1);
    QCOMPARE(Program.readAllStandardError(),
             "Tavrin cannot reach a display: DISPLAY=" + Display +
                 " has no X server, and WAYLAND_DISPLAY is not set and wayland-0 has no Wayland "
                 "compositor.\n");
}

void TPlatformTest::waylandTakesOverWhereNoXServerAnswers()
{
    const QString weston = QStandardPaths::findExecutable(QStringLiteral("weston"));
    if (weston.isEmpty())
        QSKIP("weston is not installed (scripts/setup.sh installs it)");
    // A compositor with no seat, as on a machine without keyboard or mouse.
    Compositor.start(weston, {QStringLiteral("--backend=headless-backend.so"),
                              QStringLiteral("--socket=tavrin-test"),
                              QStringLiteral("--idle-time=0")});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Runtime.filePath(QStringLiteral("tavrin-test"))),
                             10000);
    QProcessEnvironment environment = Program.processEnvironment();
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("tavrin-test"));
    Program.setProcessEnvironment(environment);
    // No picture: the open dialog and its line edit show at once.
    Program.start(QStringLiteral(TAVRIN_PROGRAM));
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += Program.readAllStandardError()).contains("run on Wayland"),
                             20000);
    QVERIFY2(!Program.waitForFinished(3000), "the program ended on Wayland");
}

QTEST_GUILESS_MAIN(TPlatformTest)
#include "platform_test.moc"
