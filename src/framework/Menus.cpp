#include "Menus.h"

#include <QMenu>

#include <stdexcept>
#include <vector>

namespace {

// The identifiers in use, application-wide. Live items thus hold distinct,
// small numbers, far below the window menu's own command codes (0xF000 up).
std::vector<bool>& IdsInUse()
{
    static std::vector<bool> InUse;
    return InUse;
}

quint16 TakeLowestFreeId()
{
    auto& InUse = IdsInUse();
    std::size_t Id = 0;
    while (Id < InUse.size() && InUse[Id])
        ++Id;
    if (Id > 0xFFFF)
        throw std::length_error("Too many menu items");
    if (Id == InUse.size())
        InUse.push_back(true);
    else
        InUse[Id] = true;
    return static_cast<quint16>(Id);
}

} // namespace

// A separator keeps no text: Qt would draw it as a section title.
TMenuItem::TMenuItem(const QString& Caption, QObject* Parent)
    : QAction(Caption == QLatin1String("-") ? QString() : Caption, Parent), FCommand(TakeLowestFreeId())
{
    setSeparator(Caption == QLatin1String("-"));
}

TMenuItem::~TMenuItem()
{
    IdsInUse()[FCommand] = false;
}

void TMenuItem::setDefault(bool Value)
{
    FDefault = Value;
    ShowAsDefault(this, Value);
}

TMenuItem* AddMenuItem(QMenu* Menu, const QString& Caption)
{
    auto* Item = new TMenuItem(Caption, Menu);
    Menu->addAction(Item);
    return Item;
}

void ShowAsDefault(QAction* Action, bool Default)
{
    QFont Font = Action->font();
    Font.setBold(Default);
    Action->setFont(Font);
}
