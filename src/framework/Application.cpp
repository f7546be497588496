#include "Application.h"

#include <QFont>
#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#include <stdexcept>
#include <utility>

#include "Dialogs.h"

namespace {

// Shows the windows that Minimize hid once their main form is restored.
class TRestoreWindows : public QObject {
public:
    TRestoreWindows(QWidget* MainForm, QList<QPointer<QWidget>> Hidden)
        : QObject(MainForm), Hidden(std::move(Hidden))
    {
        MainForm->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Event->type() == QEvent::WindowStateChange &&
            !static_cast<QWidget*>(Watched)->isMinimized()) {
            Watched->removeEventFilter(this);
            for (const QPointer<QWidget>& Window : std::as_const(Hidden))
                if (Window)
                    Window->show();
            deleteLater();
        }
        return false;
    }

private:
    QList<QPointer<QWidget>> Hidden;
};

} // namespace

TApplication::TApplication(int& Argc, char** Argv) : QApplication(Argc, Argv)
{
    // The resources live in a static library: nothing would pull them in.
    Q_INIT_RESOURCE(tavrin);
    // The forms are laid out for this font's metrics; where it is missing,
    // fonts of the same widths keep the labels inside their places.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Helvetica")});
}

TApplication* TApplication::Instance()
{
    return qobject_cast<TApplication*>(QCoreApplication::instance());
}

void TApplication::Terminate()
{
    IsTerminated = true;
    // Queued, so that it also ends a loop that has not started yet.
    QMetaObject::invokeMethod(this, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void TApplication::Minimize(QWidget* MainForm)
{
    QList<QPointer<QWidget>> hidden;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window != MainForm && window->isVisible()) {
            window->hide();
            hidden << window;
        }
    new TRestoreWindows(MainForm, hidden);
    MainForm->showMinimized();
}

void TerminateApplication()
{
    if (TApplication* application = TApplication::Instance())
        application->Terminate();
}

void TApplication::HandleException(const std::exception& Error)
{
    Dialogs().ShowError(nullptr, QString::fromLocal8Bit(Error.what()));
}

bool TApplication::notify(QObject* Receiver, QEvent* Event)
{
    try {
        bool handled = false;
        if (OnMessage)
            OnMessage(Receiver, Event, handled);
        if (handled)
            return true;
        return QApplication::notify(Receiver, Event);
    } catch (const std::exception& error) {
        HandleException(error);
    } catch (...) {
        HandleException(std::runtime_error("Unknown error"));
    }
    return false;
}
