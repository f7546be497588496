// Menu items as the program's menus hold them: Qt actions that also carry the
// framework's 16-bit command identifier and the few flags Qt lacks.
#pragma once

#include <QAction>

class QMenu;

class TMenuItem : public QAction {
    Q_OBJECT
public:
    enum TMenuBreak { mbNone, mbBreak, mbBarBreak };

    // Takes the lowest free command identifier; a caption of "-" makes a separator.
    explicit TMenuItem(const QString& Caption, QObject* Parent = nullptr);
    // Gives the identifier back for the next item.
    ~TMenuItem() override;

    TMenuItem(const TMenuItem&) = delete;
    TMenuItem& operator=(const TMenuItem&) = delete;

    quint16 Command() const { return FCommand; }

    // A radio item shows a round mark when checked; the program never
    // checks one by itself (the item is not made checkable).
    bool RadioItem() const { return FRadioItem; }
    void setRadioItem(bool Value) { FRadioItem = Value; }
    bool Default() const { return FDefault; }
    void setDefault(bool Value);
    TMenuBreak Break() const { return FBreak; }
    void setBreak(TMenuBreak Value) { FBreak = Value; }

    // Runs the item's click action, as choosing it from its menu does.
    void Click() { trigger(); }

private:
    quint16 FCommand;
    bool FRadioItem = false;
    bool FDefault = false;
    TMenuBreak FBreak = mbNone;
};

// Appends a new item with the given caption to Menu, which owns it.
TMenuItem* AddMenuItem(QMenu* Menu, const QString& Caption);

// Shows Action in bold when it is its menu's default item, plain otherwise.
void ShowAsDefault(QAction* Action, bool Default);
