// The window (system) menu of a top-level window, with the calls and codes
// that programs use on it.
//
// The desktop's window manager gives programs no access to its own window
// menu, so the program supplies one per window: the standard entries
// (restore, move, size, minimise, maximise, close), opened with Alt+Space on
// the window or with a right click while Shift is held. Choosing an entry
// posts a system-command event carrying the entry's identifier to the
// window; unless the application's message hook swallows it, the window then
// carries out the standard command it names.
#pragma once

#include <QEvent>
#include <QString>

class QMenu;
class QWidget;

using HMENU = QMenu*;

// Standard commands; the low four bits of a command are not part of it.
constexpr quint16 SC_SIZE = 0xF000;
constexpr quint16 SC_MOVE = 0xF010;
constexpr quint16 SC_MINIMIZE = 0xF020;
constexpr quint16 SC_MAXIMIZE = 0xF030;
constexpr quint16 SC_CLOSE = 0xF060;
constexpr quint16 SC_RESTORE = 0xF120;

// MENUITEMINFO masks, types and states.
constexpr quint32 MIIM_STATE = 0x1, MIIM_ID = 0x2, MIIM_SUBMENU = 0x4, MIIM_CHECKMARKS = 0x8,
                  MIIM_TYPE = 0x10, MIIM_DATA = 0x20;
constexpr quint32 MFT_MENUBARBREAK = 0x20, MFT_MENUBREAK = 0x40, MFT_RADIOCHECK = 0x200,
                  MFT_SEPARATOR = 0x800;
constexpr quint32 MFS_GRAYED = 0x3, MFS_DISABLED = 0x3, MFS_CHECKED = 0x8, MFS_DEFAULT = 0x1000;

// Flags of the older InsertMenuA.
constexpr quint32 MF_GRAYED = 0x1, MF_DISABLED = 0x2, MF_CHECKED = 0x8, MF_POPUP = 0x10,
                  MF_MENUBARBREAK = 0x20, MF_MENUBREAK = 0x40, MF_BYPOSITION = 0x400,
                  MF_SEPARATOR = 0x800;

struct MENUITEMINFO {
    quint32 cbSize = 0;
    quint32 fMask = 0;
    quint32 fType = 0;
    quint32 fState = 0;
    quint32 wID = 0;
    HMENU hSubMenu = nullptr;
    void* hbmpChecked = nullptr;   // custom check marks are not drawn
    void* hbmpUnchecked = nullptr;
    quintptr dwItemData = 0;
    QString dwTypeData;
};

// A system command (the platform's WM_SYSCOMMAND message) on its way to a
// window, as posted by its window menu.
class TSysCommandEvent : public QEvent {
public:
    explicit TSysCommandEvent(quintptr WParam);
    static QEvent::Type EventType();

    quintptr WParam() const { return FWParam; }

private:
    quintptr FWParam;
};

// The window menu of Window's top-level window, made with the standard
// entries on first use. Revert is accepted for the call's shape and ignored:
// the menu is never thrown away while its window lives.
HMENU GetSystemMenu(QWidget* Window, bool Revert);

// Inserts one entry, described by Info, before the entry at Item (when
// ByPosition) or before the entry whose identifier is Item; a position of
// -1 or past the end appends. False when the entry to insert before is not there.
bool InsertMenuItemA(HMENU Menu, int Item, bool ByPosition, const MENUITEMINFO& Info);

// The older call: Flags of MF_ values; with MF_POPUP, IdNewItem is the sub-menu.
bool InsertMenuA(HMENU Menu, int Position, quint32 Flags, quintptr IdNewItem, const QString& NewItem);

// The system's version; its low byte is the major version.
quint32 GetVersion();
// Replaces the reported version, so that tests can take the older insert path.
void SetVersion(quint32 Version);

// Posts the system command WParam to Window through the application's queue.
void PostSysCommand(QWidget* Window, quintptr WParam);
