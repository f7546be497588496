// TOrvelSystemMenu: copies a popup menu's items into the window menu of the
// form that owns it, and runs an item's click action when its copy is chosen
// there. It watches the application's message hook, so the form needs no code
// beyond setting PopupMenu and Position and calling Loaded().
#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QEvent;

class TOrvelSystemMenu : public QObject {
    Q_OBJECT
    Q_PROPERTY(QMenu* PopupMenu READ PopupMenu WRITE setPopupMenu)
    Q_PROPERTY(int Position READ Position WRITE setPosition)
public:
    // Owner is the form whose window menu receives the items.
    explicit TOrvelSystemMenu(QObject* Owner);
    // Puts back the message hook that Loaded() found, if it ran.
    ~TOrvelSystemMenu() override;

    // The source of the items. Writing a new value inserts them again.
    QMenu* PopupMenu() const { return FPopupMenu; }
    void setPopupMenu(QMenu* Value);
    // Window-menu position of the first copied item; -1 appends.
    int Position() const { return FPosition; }
    void setPosition(int Value);

    // The after-loading notification: call once the owner has set the
    // properties. Installs the component's hook, keeping the current one.
    void Loaded();

    // Copies every item of the popup's top level into the owner's window menu.
    // Throws std::invalid_argument when the owner is not a form.
    void InsertPopupItems();
    void InsertOneItem(QAction* Item, QMenu* Menu, int Pos);
    // The application message hook: the saved hook first, then a system
    // command runs the popup item that carries its identifier.
    void HandleAppMessage(QObject* Receiver, QEvent* Event, bool& Handled);
    // Depth-first: clicks the item of Level (or of its sub-menus) with Id.
    void ClickMatchingItem(QMenu* Level, quint16 Id);

private:
    using TMessageHook = std::function<void(QObject*, QEvent*, bool&)>;

    // Guarded: the popup may go before the component, which is not told.
    QPointer<QMenu> FPopupMenu;
    int FPosition = -1;
    TMessageHook SavedOnMessage;
    bool FHooked = false;
};
