// The application object: Qt's application with the program's default error
// handling, its message hook, and terminate and minimise.
#pragma once

#include <QApplication>

#include <exception>
#include <functional>

class TApplication : public QApplication {
    Q_OBJECT
public:
    // Also makes the program's resources (sounds, pictures) available.
    TApplication(int& Argc, char** Argv);

    // The running application object, or nullptr when the QApplication is
    // not a TApplication.
    static TApplication* Instance();

    // Application-wide message hook. Called from notify() with every event
    // before it is delivered, whichever object it is meant for. Setting
    // Handled to true swallows the event: it is not delivered and notify()
    // reports it as accepted. A component that installs its own hook keeps
    // the previous one, calls it first and puts it back when it goes away.
    // Exceptions thrown by the hook are handled like those of any handler.
    std::function<void(QObject* Receiver, QEvent* Event, bool& Handled)> OnMessage;

    // Ends the program: the message loop returns 0 as soon as it runs next.
    // Safe to call before the loop has started.
    void Terminate();
    bool Terminated() const { return IsTerminated; }

    // Minimises the program as a whole: MainForm goes to the taskbar and
    // every other visible window is hidden, as a tool window has no taskbar
    // entry to come back from. They are shown again when MainForm leaves
    // the minimised state.
    static void Minimize(QWidget* MainForm);

    // The default error handler: shows the exception's message in a message
    // box (through the dialog seam) and lets the program go on.
    static void HandleException(const std::exception& Error);

    bool notify(QObject* Receiver, QEvent* Event) override;

private:
    bool IsTerminated = false;
};

// Terminates the running application object, if there is one.
void TerminateApplication();
