#include "DisplayPlatform.h"

#include <QFile>
#include <QGuiApplication>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

struct THeldMessage {
    QtMsgType Type;
    QByteArray Category;
    QString Text;
};

std::mutex HeldLock;
std::vector<THeldMessage> Held;
QtMessageHandler Previous = nullptr;
bool UserChose = false;

// What DISPLAY says, as the start of a sentence.
QByteArray NoXServer()
{
    const QByteArray display = qgetenv("DISPLAY");
    return display.isEmpty() ? QByteArray("DISPLAY is not set")
                             : "DISPLAY=" + display + " has no X server";
}

QByteArray NoCompositor()
{
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    return wayland.isEmpty() ? QByteArray("WAYLAND_DISPLAY is not set and wayland-0 has no "
                                          "Wayland compositor")
                             : "WAYLAND_DISPLAY=" + wayland + " has no Wayland compositor";
}

void PassOn(const THeldMessage& Message)
{
    const QMessageLogContext context(nullptr, 0, nullptr, Message.Category.constData());
    if (Previous)
        Previous(Message.Type, context, Message.Text);
    else
        std::fputs(qPrintable(qFormatLogMessage(Message.Type, context, Message.Text) + '\n'),
                   stderr);
}

// Qt ends the program when no platform starts; this says why in one line
// and ends it as a failure rather than a crash.
[[noreturn]] void NoDisplay()
{
    QByteArray line = "Tavrin cannot reach a display: ";
    if (UserChose) {
        // Qt's own messages say what is wrong with the user's choice.
        const std::lock_guard lock(HeldLock);
        for (const THeldMessage& message : Held)
            PassOn(message);
        line += "the platform QT_QPA_PLATFORM=" + qgetenv("QT_QPA_PLATFORM") + " does not start";
    } else {
        line += NoXServer() + ", and " + NoCompositor();
    }
    line += ".\n";
    std::fputs(line.constData(), stderr);
    std::fflush(stderr);
    std::_Exit(1); // inside Qt's constructor: nothing may run on the way out
}

void Hold(QtMsgType Type, const QMessageLogContext& Context, const QString& Text)
{
    if (Type == QtFatalMsg)
        NoDisplay();
    const std::lock_guard lock(HeldLock);
    Held.push_back({Type, Context.category, Text});
}

// True when DISPLAY names no X server on this machine: a local display
// whose socket is not there. A display elsewhere is taken to answer.
bool NoLocalXServer()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return true;
    if (!display.startsWith(':') && !display.startsWith("unix:"))
        return false;
    QByteArray number = display.mid(display.indexOf(':') + 1);
    number.truncate(number.indexOf('.') < 0 ? number.size() : number.indexOf('.'));
    return !QFile::exists(QStringLiteral("/tmp/.X11-unix/X") + QString::fromLatin1(number));
}

// Qt's Wayland text input reads the compositor's first seat without looking
// whether there is one, and a compositor with no keyboard or mouse (a
// headless one) has none: the first line edit painted crashes. A desktop
// session always has a seat; outside one, where Wayland will take the
// windows, the program does without an input method.
void AvoidSeatlessTextInput()
{
    if (qEnvironmentVariableIsEmpty("QT_IM_MODULE") &&
        qgetenv("XDG_SESSION_TYPE") != "wayland" && NoLocalXServer())
        qputenv("QT_IM_MODULE", "none");
}

} // namespace

TDisplayConnection::TDisplayConnection()
{
    // X first, Wayland where no X server answers, in Qt's list syntax.
    UserChose = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!UserChose)
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
    AvoidSeatlessTextInput();
    Previous = qInstallMessageHandler(Hold);
}

TDisplayConnection::~TDisplayConnection()
{
    if (Holding)
        Connected();
}

void TDisplayConnection::Connected()
{
    Holding = false;
    qInstallMessageHandler(Previous);
    std::vector<THeldMessage> held;
    {
        const std::lock_guard lock(HeldLock);
        held.swap(Held);
    }
    if (!UserChose && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        const QByteArray note = "Tavrin: " + NoXServer() +
                                ", so the windows run on Wayland: the compositor decides where "
                                "the windows go and whether the control panel stays on top.\n";
        std::fputs(note.constData(), stderr);
        return;
    }
    for (const THeldMessage& message : held)
        PassOn(message);
}
