#include "WindowMenu.h"

#include <QActionGroup>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QShortcut>
#include <QWidget>
#include <QWindow>

#include "Menus.h"

namespace {

// Major version 10: the current insert call.
quint32 ReportedVersion = 10;

const QString WindowMenuName = QStringLiteral("WindowMenu");

// What both insert calls describe. Menu breaks have no place in a Qt menu,
// which makes its own columns, so they are accepted and not kept.
struct TEntry {
    QString Text;
    quint32 Id = 0;
    HMENU SubMenu = nullptr;
    bool Separator = false;
    bool Radio = false;
    bool Checked = false;
    bool Disabled = false;
    bool Default = false;
};

QAction* FindCommand(HMENU Menu, quint32 Id)
{
    for (QAction* Action : Menu->actions())
        if (!Action->menu() && !Action->isSeparator() && Action->data().toUInt() == Id)
            return Action;
    return nullptr;
}

// The entry's choice becomes a system command to the window the menu
// belongs to. Entries of a shared sub-menu are the owner's own items and run
// their own click action instead.
QAction* MakeAction(HMENU Menu, const TEntry& Entry)
{
    // A separator's caption is not shown (Qt would draw it as a section title).
    auto* Action = new QAction(Entry.Separator ? QString() : Entry.Text, Menu);
    Action->setSeparator(Entry.Separator);
    Action->setData(Entry.Id);
    Action->setEnabled(!Entry.Disabled);
    if (Entry.Checked) {
        Action->setCheckable(true);
        Action->setChecked(true);
        if (Entry.Radio) // an exclusive group is what draws the round mark
            (new QActionGroup(Action))->addAction(Action);
    }
    ShowAsDefault(Action, Entry.Default);
    if (Entry.SubMenu) {
        Action->setMenu(Entry.SubMenu);
        return Action;
    }
    QWidget* Window = Menu->parentWidget() ? Menu->parentWidget()->window() : nullptr;
    const quint32 Id = Entry.Id;
    const bool Checked = Entry.Checked;
    QObject::connect(Action, &QAction::triggered, Action, [Action, Window, Id, Checked] {
        Action->setChecked(Checked); // a window-menu mark changes only when the program sets it
        if (Window)
            PostSysCommand(Window, Id);
    });
    return Action;
}

bool InsertEntry(HMENU Menu, int Item, bool ByPosition, const TEntry& Entry)
{
    if (!Menu)
        return false;
    const QList<QAction*> Actions = Menu->actions();
    QAction* Before = nullptr;
    if (!ByPosition) {
        Before = FindCommand(Menu, quint32(Item));
        if (!Before)
            return false;
    } else if (Item >= 0 && Item < Actions.size()) {
        Before = Actions[Item];
    }
    Menu->insertAction(Before, MakeAction(Menu, Entry));
    return true;
}

class TWindowMenu : public QMenu {
public:
    explicit TWindowMenu(QWidget* Window) : QMenu(Window), FWindow(Window)
    {
        setObjectName(WindowMenuName);
        InsertMenuA(this, -1, MF_BYPOSITION, SC_RESTORE, QStringLiteral("&Restore"));
        InsertMenuA(this, -1, MF_BYPOSITION, SC_MOVE, QStringLiteral("&Move"));
        InsertMenuA(this, -1, MF_BYPOSITION, SC_SIZE, QStringLiteral("&Size"));
        InsertMenuA(this, -1, MF_BYPOSITION, SC_MINIMIZE, QStringLiteral("Mi&nimize"));
        InsertMenuA(this, -1, MF_BYPOSITION, SC_MAXIMIZE, QStringLiteral("Ma&ximize"));
        InsertMenuA(this, -1, MF_BYPOSITION | MF_SEPARATOR, 0, QString());
        InsertMenuA(this, -1, MF_BYPOSITION, SC_CLOSE, QStringLiteral("&Close\tAlt+F4"));
        connect(this, &QMenu::aboutToShow, this, &TWindowMenu::UpdateStates);
        new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), Window, this, &TWindowMenu::PopupAtWindow,
                      Qt::WindowShortcut);
        Window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override
    {
        if (Watched != FWindow)
            return false;
        if (Event->type() == TSysCommandEvent::EventType()) {
            Perform(quint16(static_cast<TSysCommandEvent*>(Event)->WParam()));
            return true;
        }
        if (Event->type() == QEvent::ContextMenu) {
            auto* Context = static_cast<QContextMenuEvent*>(Event);
            if (Context->modifiers() & Qt::ShiftModifier) {
                popup(Context->globalPos());
                return true;
            }
        }
        return false;
    }

private:
    void PopupAtWindow() { popup(FWindow->mapToGlobal(QPoint(0, 0))); }

    void UpdateStates()
    {
        const bool Normal = !FWindow->isMaximized() && !FWindow->isMinimized();
        // A window without a maximise button, or of a fixed size, is not
        // meant to change its size at all.
        const bool Sizeable = (FWindow->windowFlags() & Qt::WindowMaximizeButtonHint) &&
                              FWindow->minimumSize() != FWindow->maximumSize();
        SetEnabled(SC_RESTORE, !Normal);
        SetEnabled(SC_MOVE, !FWindow->isMaximized());
        SetEnabled(SC_SIZE, Sizeable && !FWindow->isMaximized());
        SetEnabled(SC_MAXIMIZE, Sizeable && !FWindow->isMaximized());
    }

    void SetEnabled(quint16 Command, bool Enabled)
    {
        if (QAction* Action = FindCommand(this, Command))
            Action->setEnabled(Enabled);
    }

    // What the window does with a system command nobody swallowed. The low
    // four bits of a command are not part of it.
    void Perform(quint16 Command)
    {
        QWindow* Handle = FWindow->windowHandle();
        switch (Command & 0xFFF0) {
        case SC_RESTORE:
            FWindow->showNormal();
            break;
        case SC_MOVE:
            if (Handle)
                Handle->startSystemMove();
            break;
        case SC_SIZE:
            if (Handle)
                Handle->startSystemResize(Qt::RightEdge | Qt::BottomEdge);
            break;
        case SC_MINIMIZE:
            FWindow->showMinimized();
            break;
        case SC_MAXIMIZE:
            FWindow->showMaximized();
            break;
        case SC_CLOSE:
            FWindow->close();
            break;
        }
    }

    QWidget* FWindow;
};

} // namespace

TSysCommandEvent::TSysCommandEvent(quintptr WParam) : QEvent(EventType()), FWParam(WParam) {}

QEvent::Type TSysCommandEvent::EventType()
{
    static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return Type;
}

HMENU GetSystemMenu(QWidget* Window, bool)
{
    QWidget* TopLevel = Window->window();
    if (auto* Existing = TopLevel->findChild<QMenu*>(WindowMenuName, Qt::FindDirectChildrenOnly))
        return Existing;
    return new TWindowMenu(TopLevel);
}

bool InsertMenuItemA(HMENU Menu, int Item, bool ByPosition, const MENUITEMINFO& Info)
{
    TEntry Entry;
    if (Info.fMask & MIIM_TYPE) {
        Entry.Text = Info.dwTypeData;
        Entry.Separator = Info.fType & MFT_SEPARATOR;
        Entry.Radio = Info.fType & MFT_RADIOCHECK;
    }
    if (Info.fMask & MIIM_STATE) {
        Entry.Checked = Info.fState & MFS_CHECKED;
        Entry.Disabled = Info.fState & MFS_DISABLED;
        Entry.Default = Info.fState & MFS_DEFAULT;
    }
    if (Info.fMask & MIIM_ID)
        Entry.Id = Info.wID;
    if (Info.fMask & MIIM_SUBMENU)
        Entry.SubMenu = Info.hSubMenu;
    return InsertEntry(Menu, Item, ByPosition, Entry);
}

bool InsertMenuA(HMENU Menu, int Position, quint32 Flags, quintptr IdNewItem, const QString& NewItem)
{
    TEntry Entry;
    Entry.Text = NewItem;
    Entry.Separator = Flags & MF_SEPARATOR;
    Entry.Checked = Flags & MF_CHECKED;
    Entry.Disabled = Flags & (MF_GRAYED | MF_DISABLED);
    if (Flags & MF_POPUP)
        Entry.SubMenu = reinterpret_cast<HMENU>(IdNewItem);
    else
        Entry.Id = quint32(IdNewItem);
    return InsertEntry(Menu, Position, Flags & MF_BYPOSITION, Entry);
}

quint32 GetVersion()
{
    return ReportedVersion;
}

void SetVersion(quint32 Version)
{
    ReportedVersion = Version;
}

void PostSysCommand(QWidget* Window, quintptr WParam)
{
    QCoreApplication::postEvent(Window, new TSysCommandEvent(WParam));
}
