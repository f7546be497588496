// The window-menu extender and the window menu under it: where the copies
// go, what they carry, how a choice comes back through the message hook,
// and the menu items' command identifiers.
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <stdexcept>

#include "AppTestSupport.h"
#include "SysMenu.h"
#include "framework/Menus.h"
#include "framework/WindowMenu.h"

namespace {

const QStringList StandardEntries{"&Restore", "&Move", "&Size", "Mi&nimize", "Ma&ximize", "-", "&Close\tAlt+F4"};

QStringList Captions(const QMenu* Menu)
{
    QStringList Texts;
    for (const QAction* Action : Menu->actions())
        Texts << (Action->isSeparator() ? QStringLiteral("-") : Action->text());
    return Texts;
}

// The window menu's entry for a standard command.
QAction* FindEntry(const QMenu* Menu, quint16 Command)
{
    for (QAction* Action : Menu->actions())
        if (!Action->isSeparator() && Action->data().toUInt() == Command)
            return Action;
    qFatal("The window menu has no entry %x", Command);
    return nullptr;
}

// A form with the canvas window's popup: Help, About, -, Be Silent, Make Noise, -.
struct TForm {
    TForm()
    {
        Popup = new QMenu(&Window);
        for (const char* Caption : {"Help", "About", "-", "Be Silent", "Make Noise", "-"})
            Items << AddMenuItem(Popup, QString::fromLatin1(Caption));
        Items[3]->setRadioItem(true);
        Items[4]->setRadioItem(true);
        for (TMenuItem* Item : Items) {
            Clicks << 0;
            const int Index = Clicks.size() - 1;
            QObject::connect(Item, &QAction::triggered, [this, Index] { ++Clicks[Index]; });
        }
    }
    QMenu* WindowMenu() { return GetSystemMenu(&Window, false); }

    QWidget Window;
    QMenu* Popup;
    QList<TMenuItem*> Items;
    QList<int> Clicks;
};

// Restores the hook and the reported version whatever a test leaves behind.
struct THookGuard {
    ~THookGuard()
    {
        TApplication::Instance()->OnMessage = nullptr;
        SetVersion(10);
    }
};

} // namespace

class TSysMenuTest : public QObject {
    Q_OBJECT
private slots:
    void IdentifiersComeFromAPool();
    void AppendsWithPositionMinusOne();
    void CanvasPopupGoesOnTop();
    void InvisibleItemsStillAdvance();
    void RepeatedWritesAndReinsertion();
    void BothInsertCallsCarryTheFlags();
    void SubMenusAndShortcuts();
    void ChoiceRunsTheItemOnce();
    void ClickSearchGoesDepthFirst();
    void EarlierHookComesFirst();
    void HookIsPutBack();
    void StandardCommandsPassThrough();
    void OpensWithAltSpaceAndShiftRightClick();
    void OwnerMustBeAForm();
};

void TSysMenuTest::IdentifiersComeFromAPool()
{
    // Other items may hold numbers already; all below a fresh item's are taken.
    auto Low = std::make_unique<TMenuItem>("A");
    TMenuItem High("B");
    QVERIFY(Low->Command() < High.Command());
    const quint16 Freed = Low->Command();
    Low.reset();
    TMenuItem Again("C");
    QCOMPARE(Again.Command(), Freed); // the lowest free number again
    TMenuItem Next("D");
    QVERIFY(Next.Command() > High.Command());
    QVERIFY(TMenuItem("-").isSeparator());
}

void TSysMenuTest::AppendsWithPositionMinusOne()
{
    THookGuard Guard;
    TForm Form;
    TOrvelSystemMenu Extender(&Form.Window);
    QCOMPARE(Extender.Position(), -1);
    Extender.setPopupMenu(Form.Popup);
    QCOMPARE(Captions(Form.WindowMenu()),
             StandardEntries + QStringList({"Help", "About", "-", "Be Silent", "Make Noise", "-"}));
    // Each copy carries its item's command identifier.
    const QList<QAction*> Entries = Form.WindowMenu()->actions();
    QCOMPARE(Entries[7]->data().toUInt(), quint32(Form.Items[0]->Command()));
    QCOMPARE(Entries[11]->data().toUInt(), quint32(Form.Items[4]->Command()));
}

void TSysMenuTest::CanvasPopupGoesOnTop()
{
    THookGuard Guard;
    TForm Form;
    TOrvelSystemMenu Extender(&Form.Window);
    Extender.setPosition(0); // no popup yet: the menu is made, nothing inserted
    QCOMPARE(Captions(Form.WindowMenu()), StandardEntries);
    Extender.setPopupMenu(Form.Popup);
    QCOMPARE(Captions(Form.WindowMenu()),
             QStringList({"Help", "About", "-", "Be Silent", "Make Noise", "-"}) + StandardEntries);
    // The radio items come across unchecked.
    QVERIFY(!Form.WindowMenu()->actions()[3]->isChecked());
    QVERIFY(!Form.WindowMenu()->actions()[4]->isChecked());
}

void TSysMenuTest::InvisibleItemsStillAdvance()
{
    THookGuard Guard;
    QWidget Window;
    QMenu Popup;
    AddMenuItem(&Popup, "A");
    AddMenuItem(&Popup, "B")->setVisible(false);
    AddMenuItem(&Popup, "C");
    TOrvelSystemMenu Extender(&Window);
    Extender.setPosition(2);
    Extender.setPopupMenu(&Popup);
    // A at 2; B skipped; C at 2 + 2 = 4, not 3.
    const QStringList Expected{"&Restore", "&Move", "A", "&Size", "C", "Mi&nimize", "Ma&ximize", "-",
                               "&Close\tAlt+F4"};
    QCOMPARE(Captions(GetSystemMenu(&Window, false)), Expected);
}

void TSysMenuTest::RepeatedWritesAndReinsertion()
{
    THookGuard Guard;
    QWidget Window;
    QMenu Popup;
    AddMenuItem(&Popup, "A");
    AddMenuItem(&Popup, "B");
    TOrvelSystemMenu Extender(&Window);
    Extender.setPopupMenu(&Popup);
    QMenu* Menu = GetSystemMenu(&Window, false);
    QCOMPARE(Menu->actions().size(), 9);
    Extender.setPopupMenu(&Popup);
    Extender.setPosition(-1);
    QCOMPARE(Menu->actions().size(), 9);
    // A new position inserts a second set; the first stays.
    Extender.setPosition(0);
    QCOMPARE(Captions(Menu), QStringList({"A", "B"}) + StandardEntries + QStringList({"A", "B"}));
}

void TSysMenuTest::BothInsertCallsCarryTheFlags()
{
    for (const quint32 Version : {10u, 3u}) {
        THookGuard Guard;
        SetVersion(Version);
        QWidget Window;
        QMenu Popup;
        TMenuItem* Checked = AddMenuItem(&Popup, "Checked");
        Checked->setCheckable(true);
        Checked->setChecked(true);
        Checked->setRadioItem(true);
        AddMenuItem(&Popup, "Disabled")->setEnabled(false);
        AddMenuItem(&Popup, "Default")->setDefault(true);
        TOrvelSystemMenu Extender(&Window);
        Extender.setPopupMenu(&Popup);

        const QList<QAction*> Copies = GetSystemMenu(&Window, false)->actions().mid(7);
        QCOMPARE(Copies.size(), 3);
        QVERIFY(Copies[0]->isChecked());
        QVERIFY(Copies[0]->isEnabled());
        QVERIFY(!Copies[1]->isEnabled());
        QVERIFY(Copies[2]->isEnabled());
        // Only the newer call knows radio items and the default state.
        const bool Newer = Version >= 4;
        QCOMPARE(Copies[0]->actionGroup() != nullptr, Newer);
        QCOMPARE(Copies[2]->font().bold(), Newer);

        // A checked copy stays checked when chosen, as the program never changes it.
        Copies[0]->trigger();
        QVERIFY(Copies[0]->isChecked());
    }
}

void TSysMenuTest::SubMenusAndShortcuts()
{
    THookGuard Guard;
    QWidget Window;
    QMenu Popup;
    AddMenuItem(&Popup, "Help")->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    TMenuItem* Parent = AddMenuItem(&Popup, "More");
    Parent->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    QMenu Sub;
    AddMenuItem(&Sub, "Inner");
    Parent->setMenu(&Sub);
    TOrvelSystemMenu Extender(&Window);
    Extender.setPosition(0);
    Extender.setPopupMenu(&Popup);

    const QList<QAction*> Entries = GetSystemMenu(&Window, false)->actions();
    QCOMPARE(Entries[0]->text(), QKeySequence(Qt::CTRL | Qt::Key_H).toString(QKeySequence::NativeText)
                                     .prepend("Help\t"));
    QCOMPARE(Entries[1]->text(), QString("More")); // an item with sub-items shows no shortcut
    QCOMPARE(Entries[1]->menu(), &Sub);           // and shares its sub-menu
}

void TSysMenuTest::ChoiceRunsTheItemOnce()
{
    THookGuard Guard;
    TForm Form;
    TOrvelSystemMenu Extender(&Form.Window);
    Extender.setPosition(0);
    Extender.setPopupMenu(Form.Popup);
    Extender.Loaded();

    Form.WindowMenu()->actions()[0]->trigger(); // "Help"
    QCOMPARE(Form.Clicks[0], 0);                 // posted, not run on the spot
    QTRY_COMPARE(Form.Clicks[0], 1);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(Form.Clicks, QList<int>({1, 0, 0, 0, 0, 0}));

    Form.WindowMenu()->actions()[4]->trigger(); // "Make Noise"
    QTRY_COMPARE(Form.Clicks[4], 1);
    QCOMPARE(Form.Clicks, QList<int>({1, 0, 0, 0, 1, 0}));
}

void TSysMenuTest::ClickSearchGoesDepthFirst()
{
    THookGuard Guard;
    QWidget Window;
    QMenu Popup, Sub, SubSub;
    TMenuItem* Top = AddMenuItem(&Popup, "Top");
    AddMenuItem(&Popup, "More")->setMenu(&Sub);
    AddMenuItem(&Sub, "Deeper")->setMenu(&SubSub);
    TMenuItem* Deep = AddMenuItem(&SubSub, "Deep");
    QSignalSpy TopSpy(Top, &QAction::triggered), DeepSpy(Deep, &QAction::triggered);
    TOrvelSystemMenu Extender(&Window);
    Extender.setPopupMenu(&Popup);

    Extender.ClickMatchingItem(&Popup, Deep->Command());
    QCOMPARE(DeepSpy.count(), 1);
    QCOMPARE(TopSpy.count(), 0);
    // Through the hook, by a posted system command.
    Extender.Loaded();
    PostSysCommand(&Window, Deep->Command());
    QTRY_COMPARE(DeepSpy.count(), 2);
    // The low 16 bits are what is searched for.
    PostSysCommand(&Window, 0x10000u | Top->Command());
    QTRY_COMPARE(TopSpy.count(), 1);
}

void TSysMenuTest::EarlierHookComesFirst()
{
    THookGuard Guard;
    TForm Form;
    QList<QString> Order;
    bool Swallow = true;
    TApplication::Instance()->OnMessage = [&](QObject*, QEvent* Event, bool& Handled) {
        if (Event->type() != TSysCommandEvent::EventType())
            return;
        Order << "earlier";
        Handled = Swallow;
    };
    QObject::connect(Form.Items[1], &QAction::triggered, [&] { Order << "click"; });
    TOrvelSystemMenu Extender(&Form.Window);
    Extender.setPosition(0);
    Extender.setPopupMenu(Form.Popup);
    Extender.Loaded();

    PostSysCommand(&Form.Window, Form.Items[1]->Command());
    QTRY_COMPARE(Order, QList<QString>({"earlier"}));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(Form.Clicks[1], 0); // swallowed by the earlier hook

    Swallow = false;
    PostSysCommand(&Form.Window, Form.Items[1]->Command());
    QTRY_COMPARE(Order, QList<QString>({"earlier", "earlier", "click"}));
}

void TSysMenuTest::HookIsPutBack()
{
    THookGuard Guard;
    QWidget Window;
    int Earlier = 0;
    const auto EarlierHook = [&](QObject*, QEvent* Event, bool&) {
        Earlier += Event->type() == TSysCommandEvent::EventType();
    };
    TApplication::Instance()->OnMessage = EarlierHook;
    QMenu Popup;
    QSignalSpy Clicked(AddMenuItem(&Popup, "A"), &QAction::triggered);
    auto Extender = std::make_unique<TOrvelSystemMenu>(&Window);
    Extender->setPopupMenu(&Popup);
    Extender->Loaded();
    Extender.reset();

    PostSysCommand(&Window, 0xF7F0); // a command nobody knows
    QTRY_COMPARE(Earlier, 1);
    QCOMPARE(Clicked.count(), 0);

    // One that never loaded installed nothing and so takes nothing away.
    { TOrvelSystemMenu NeverLoaded(&Window); }
    PostSysCommand(&Window, 0xF7F0);
    QTRY_COMPARE(Earlier, 2);
}

void TSysMenuTest::StandardCommandsPassThrough()
{
    THookGuard Guard;
    TForm Form;
    int Seen = 0;
    TApplication::Instance()->OnMessage = [&](QObject*, QEvent* Event, bool&) {
        Seen += Event->type() == TSysCommandEvent::EventType();
    };
    TOrvelSystemMenu Extender(&Form.Window);
    Extender.setPosition(0);
    Extender.setPopupMenu(Form.Popup);
    Extender.Loaded();
    Form.Window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&Form.Window));

    const QList<QAction*> Entries = Form.WindowMenu()->actions();
    QCOMPARE(Entries[10]->data().toUInt(), quint32(SC_MAXIMIZE));
    Entries[10]->trigger();
    QTRY_VERIFY(Form.Window.isMaximized());
    Entries[6]->trigger(); // Restore
    QTRY_VERIFY(!Form.Window.isMaximized());
    QCOMPARE(Entries[12]->data().toUInt(), quint32(SC_CLOSE));
    Entries[12]->trigger();
    QTRY_VERIFY(!Form.Window.isVisible());
    QCOMPARE(Seen, 3);
    QCOMPARE(Form.Clicks, QList<int>({0, 0, 0, 0, 0, 0}));
}

void TSysMenuTest::OpensWithAltSpaceAndShiftRightClick()
{
    TForm Form;
    QMenu* Menu = Form.WindowMenu();
    Form.Window.resize(101, 67);
    Form.Window.show();
    Form.Window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&Form.Window));

    QTest::keyClick(&Form.Window, Qt::Key_Space, Qt::AltModifier);
    QTRY_VERIFY(Menu->isVisible());
    QVERIFY(FindEntry(Menu, SC_SIZE)->isEnabled());
    QVERIFY(FindEntry(Menu, SC_MAXIMIZE)->isEnabled());
    Menu->hide();
    QTRY_VERIFY(!Menu->isVisible());

    // A plain right click is left to the window; with Shift it is the window menu's.
    const QPoint At(30, 20);
    QContextMenuEvent Plain(QContextMenuEvent::Mouse, At, Form.Window.mapToGlobal(At), Qt::NoModifier);
    QCoreApplication::sendEvent(&Form.Window, &Plain);
    QVERIFY(!Menu->isVisible());
    QContextMenuEvent Shifted(QContextMenuEvent::Mouse, At, Form.Window.mapToGlobal(At), Qt::ShiftModifier);
    // A window of a fixed size is offered neither size nor maximise.
    Form.Window.setFixedSize(Form.Window.size());
    QCoreApplication::sendEvent(&Form.Window, &Shifted);
    QTRY_VERIFY(Menu->isVisible());
    QVERIFY(!FindEntry(Menu, SC_SIZE)->isEnabled());
    QVERIFY(!FindEntry(Menu, SC_MAXIMIZE)->isEnabled());
    QVERIFY(FindEntry(Menu, SC_MOVE)->isEnabled());
    Menu->hide();
}

void TSysMenuTest::OwnerMustBeAForm()
{
    QWidget Window;
    QWidget Child(&Window);
    TOrvelSystemMenu Extender(&Child);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, Extender.setPosition(0));
}

TAVRIN_TEST_MAIN(TSysMenuTest)
#include "sysmenu_test.moc"
