#include "SysMenu.h"

#include <QAction>
#include <QMenuBar>
#include <QWidget>

#include <stdexcept>

#include "framework/Application.h"
#include "framework/Menus.h"
#include "framework/WindowMenu.h"

namespace {

// A top-level item of a menu bar shows no shortcut text.
bool IsMenuBarItem(const QAction* Item)
{
    for (QObject* Holder : Item->associatedObjects())
        if (qobject_cast<QMenuBar*>(Holder))
            return true;
    return false;
}

} // namespace

TOrvelSystemMenu::TOrvelSystemMenu(QObject* Owner) : QObject(Owner) {}

TOrvelSystemMenu::~TOrvelSystemMenu()
{
    // Only a component that installed its hook has one to put back: one that
    // never loaded would otherwise wipe out whoever hooked in since.
    if (!FHooked)
        return;
    if (TApplication* App = TApplication::Instance())
        App->OnMessage = SavedOnMessage;
}

void TOrvelSystemMenu::setPopupMenu(QMenu* Value)
{
    if (Value == FPopupMenu)
        return;
    FPopupMenu = Value;
    InsertPopupItems();
}

void TOrvelSystemMenu::setPosition(int Value)
{
    if (Value == FPosition)
        return;
    FPosition = Value;
    InsertPopupItems();
}

void TOrvelSystemMenu::Loaded()
{
    TApplication* App = TApplication::Instance();
    if (!App || FHooked)
        return;
    SavedOnMessage = App->OnMessage;
    App->OnMessage = [this](QObject* Receiver, QEvent* Event, bool& Handled) {
        HandleAppMessage(Receiver, Event, Handled);
    };
    FHooked = true;
}

// Earlier copies stay: every run inserts the items again.
void TOrvelSystemMenu::InsertPopupItems()
{
    auto* Form = qobject_cast<QWidget*>(parent());
    if (!Form || !Form->isWindow())
        throw std::invalid_argument("Invalid class typecast");
    QMenu* WindowMenu = GetSystemMenu(Form, false);
    if (!FPopupMenu)
        return;
    const QList<QAction*> Items = FPopupMenu->actions();
    for (int i = 0; i < Items.size(); ++i)
        InsertOneItem(Items[i], WindowMenu, FPosition == -1 ? -1 : FPosition + i);
}

void TOrvelSystemMenu::InsertOneItem(QAction* Item, QMenu* Menu, int Pos)
{
    // Only the framework's items carry a command identifier to route back.
    auto* MenuItem = qobject_cast<TMenuItem*>(Item);
    if (!MenuItem || !Item->isVisible())
        return;

    QString Text = Item->text();
    QMenu* SubMenu = Item->menu();
    if (SubMenu && SubMenu->actions().isEmpty())
        SubMenu = nullptr;
    if (!SubMenu && !Item->shortcut().isEmpty() && !IsMenuBarItem(Item))
        Text += QLatin1Char('\t') + Item->shortcut().toString(QKeySequence::NativeText);
    // A caption of "-" is a separator; the framework's items hold it as one.
    const bool Separator = Item->text() == QLatin1String("-") || Item->isSeparator();
    const quint32 Break = MenuItem->Break() == TMenuItem::mbBreak      ? MFT_MENUBREAK
                          : MenuItem->Break() == TMenuItem::mbBarBreak ? MFT_MENUBARBREAK
                                                                       : 0;

    if ((GetVersion() & 0xFF) >= 4) {
        MENUITEMINFO Info;
        Info.cbSize = 48;
        Info.fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_CHECKMARKS | MIIM_TYPE | MIIM_DATA;
        Info.fType = (Separator ? MFT_SEPARATOR : 0) | (MenuItem->RadioItem() ? MFT_RADIOCHECK : 0) | Break;
        Info.fState = (Item->isChecked() ? MFS_CHECKED : 0) | (Item->isEnabled() ? 0 : MFS_GRAYED | MFS_DISABLED) |
                      (MenuItem->Default() ? MFS_DEFAULT : 0);
        Info.wID = MenuItem->Command();
        Info.hSubMenu = SubMenu;
        Info.dwTypeData = Text;
        InsertMenuItemA(Menu, Pos, true, Info);
        return;
    }
    // The older call carries neither the radio type nor the default state.
    quint32 Flags = (Separator ? MF_SEPARATOR : 0) | Break | (Item->isChecked() ? MF_CHECKED : 0) |
                    (Item->isEnabled() ? 0 : MF_GRAYED | MF_DISABLED) | MF_BYPOSITION;
    quintptr Id = MenuItem->Command();
    if (SubMenu) {
        Flags |= MF_POPUP;
        Id = reinterpret_cast<quintptr>(SubMenu);
    }
    InsertMenuA(Menu, Pos, Flags, Id, Text);
}

// Changes neither the event nor the flag: after the click the system command
// still reaches its window, which ignores an identifier it does not know.
void TOrvelSystemMenu::HandleAppMessage(QObject* Receiver, QEvent* Event, bool& Handled)
{
    if (SavedOnMessage)
        SavedOnMessage(Receiver, Event, Handled);
    if (Handled || Event->type() != TSysCommandEvent::EventType() || !FPopupMenu)
        return;
    ClickMatchingItem(FPopupMenu, quint16(static_cast<TSysCommandEvent*>(Event)->WParam()));
}

void TOrvelSystemMenu::ClickMatchingItem(QMenu* Level, quint16 Id)
{
    for (QAction* Action : Level->actions()) {
        auto* Item = qobject_cast<TMenuItem*>(Action);
        if (Item && Item->Command() == Id) {
            Item->Click();
            return;
        }
        if (QMenu* SubLevel = Action->menu())
            ClickMatchingItem(SubLevel, Id);
    }
}
