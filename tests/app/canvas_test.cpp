// The canvas window: start-up with and without a file, keeping the image when
// an open is cancelled or fails, painting at actual size, dragging, dropping,
// the popup menu and the sounds.
#include <QBuffer>
#include <QDialog>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QtEndian>
#include <QtMath>

#include "AppTestSupport.h"
#include "Preferences.h"
#include "Unit1.h"
#include "framework/Menus.h"
#include "framework/WindowMenu.h"

namespace {

constexpr int AWidth = 13, AHeight = 17, ASeed = 1;
constexpr int BWidth = 21, BHeight = 9, BSeed = 2;

// The canvas as painted, in device pixels.
QImage Painted(QWidget& Canvas)
{
    return Canvas.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// True when the window shows fixture Seed pixel for pixel at its top-left.
bool ShowsFixture(QWidget& Canvas, int Width, int Height, int Seed)
{
    const QImage image = Painted(Canvas);
    if (image.width() < Width || image.height() < Height)
        return false;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != FixtureColour(x, y, Seed))
                return false;
    return true;
}

bool HoldsFixture(const tavrin::TWin& Surface, int Width, int Height, int Seed)
{
    if (Surface.Width() != Width || Surface.Height() != Height)
        return false;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            if (SurfacePixel(Surface, x, y) != FixtureColour(x, y, Seed))
                return false;
    return true;
}

// The smallest window, in logical pixels, whose device pixels hold Pixels.
bool FitsExactly(int Logical, int Pixels, qreal Ratio)
{
    return Logical * Ratio >= Pixels && (Logical - 1) * Ratio < Pixels;
}

void SendMouse(QWidget& Window, QEvent::Type Type, QPoint Global, Qt::MouseButton Button,
               Qt::MouseButtons Buttons)
{
    QMouseEvent event(Type, QPointF(Window.mapFromGlobal(Global)), QPointF(Global), Button,
                      Buttons, Qt::NoModifier);
    QApplication::sendEvent(&Window, &event);
}

// Drags Name onto the window and drops it there; true when the drop is taken.
bool DropFile(QWidget& Window, const QString& Name)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Name)});
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&Window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&Window, &drop);
    return drop.isAccepted();
}

// The CRC-32 that ends a PNG chunk, bit by bit.
quint32 Crc32(const QByteArray& Data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : Data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    return ~crc;
}

// A well-formed 24-bit bitmap file of Width x Height with no pixel data, as
// an image with a side of 0 has none.
QByteArray EmptyBitmap(qint32 Width, qint32 Height)
{
    QByteArray file(54, '\0');
    const auto put32 = [&](int At, qint32 Value) { qToLittleEndian(Value, file.data() + At); };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, 54);  // file size
    put32(10, 54); // pixel data offset
    put32(14, 40); // information header size
    put32(18, Width);
    put32(22, Height);
    file[26] = 1;  // planes
    file[28] = 24; // bits per pixel
    return file;
}

void WriteFile(const QString& Name, const QByteArray& Content)
{
    QFile file(Name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(Content), Content.size());
}

// Whether the window menu's standard entry for Command can be chosen, as
// the menu shows it.
bool Offers(QWidget& Window, quint16 Command)
{
    QMenu* menu = GetSystemMenu(&Window, false);
    emit menu->aboutToShow();
    for (QAction* entry : menu->actions())
        if (!entry->isSeparator() && entry->data().toUInt() == Command)
            return entry->isEnabled();
    return false;
}

} // namespace

class TestCanvas : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void createdAsDesigned();
    void popupMenuHasTheSixItems();
    void rightClickShowsThePopupMenu();
    void startsWithTheCommandLineFile();
    void startsWithoutAFileByAsking();
    void cancelledAtStartEndsTheProgram();
    void badFileAtStartAsksAgain();
    void openCancelledKeepsTheImage();
    void failedLoadKeepsTheImage_data();
    void failedLoadKeepsTheImage();
    void openingAnotherFileResizesTheWindow();
    void droppedBitmapOpens();
    void soundCommands();
    void windowCommandsShowTheirWindows();
    void closingSoundWaitsUnlessSilent();
    void draggingMovesTheWindow();
    void saveWritesTheOutputOrSaysWhyNot();
    void closingTheCanvasEndsTheProgram();

private:
    // A canvas started on fixture A and shown, with its control panel.
    std::unique_ptr<TForm1> StartedOnA();

    std::unique_ptr<TScriptedDialogs> Dialogs;
    std::unique_ptr<QTemporaryDir> Dir;
    TRecordingPlayer Player;
    QWidget Panel;
    QString FileA;
    QString FileB;
};

void TestCanvas::init()
{
    Dialogs = std::make_unique<TScriptedDialogs>();
    Dir = std::make_unique<QTemporaryDir>();
    FileA = MakeBitmap(*Dir, QStringLiteral("a.bmp"), AWidth, AHeight, ASeed);
    FileB = MakeBitmap(*Dir, QStringLiteral("b.bmp"), BWidth, BHeight, BSeed);
    Player.Clear();
    Panel.hide();
    ResetPreferences(); // a case that silences the program silences the next start
}

void TestCanvas::cleanup()
{
    Dialogs.reset();
    Dir.reset();
}

std::unique_ptr<TForm1> TestCanvas::StartedOnA()
{
    auto form = std::make_unique<TForm1>(FileA, Player);
    form->SetWindows(nullptr, nullptr, &Panel);
    form->show();
    if (!QTest::qWaitFor([&] { return Panel.isVisible(); }))
        return nullptr;
    Player.Clear();
    return form;
}

void TestCanvas::createdAsDesigned()
{
    TForm1 form(QStringLiteral("given.bmp"), Player);
    QCOMPARE(form.windowTitle(), QStringLiteral("Tavrin"));
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form.geometry(), QRect(38, 86, 187, 68));
    QCOMPARE(form.CurrentFile(), QStringLiteral("given.bmp"));
    QVERIFY(form.SoundOn());
    for (tavrin::TWin* surface : {&form.Source(), &form.Output()}) {
        QCOMPARE(surface->Width(), 32);
        QCOMPARE(surface->Height(), 32);
    }
    QVERIFY(&form.Source() != &form.Output());
    QCOMPARE(form.OpenDialog1.Title, QStringLiteral("Please Choose a Bitmap to Load and Edit"));
    // Every readable image first, then bitmaps as before, then any file.
    const QStringList open = form.OpenDialog1.Filter.split(QLatin1Char('|'));
    QCOMPARE(open.size(), 6);
    QCOMPARE(open[0], QStringLiteral("Images"));
    for (const char* pattern : {"*.bmp", "*.png", "*.jpg", "*.jpeg", "*.webp", "*.tif", "*.tiff",
                                "*.gif", "*.heic", "*.avif"})
        QVERIFY2(open[1].split(QLatin1Char(';')).contains(QLatin1String(pattern)), pattern);
    QCOMPARE(open.mid(2), (QStringList{"Bitmap Files", "*.bmp", "All Files", "*"}));
    QCOMPARE(form.SaveDialog1.Title, QStringLiteral("Save New Bitmap"));
    QCOMPARE(form.SaveDialog1.Filter,
             QStringLiteral("Bitmap Files|*.bmp|PNG Images|*.png|JPEG Images|*.jpg;*.jpeg|"
                            "WebP Images|*.webp|TIFF Images|*.tif;*.tiff"));
    QCOMPARE(form.SaveDialog1.DefaultExt, QStringLiteral("bmp"));
    QVERIFY(Dialogs->Asked.empty()); // nothing happens before the window is shown
    // Without a maximise button it is not to change size: its window menu
    // offers neither size nor maximise, but still moves and minimises it.
    QVERIFY(!Offers(form, SC_SIZE));
    QVERIFY(!Offers(form, SC_MAXIMIZE));
    QVERIFY(Offers(form, SC_MOVE));
    QVERIFY(Offers(form, SC_MINIMIZE));
}

void TestCanvas::popupMenuHasTheSixItems()
{
    TForm1 form(QString(), Player);
    const QList<QAction*> items = form.PopupMenu1->actions();
    QStringList captions;
    for (QAction* item : items)
        captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
    // The View items follow them (checked with the zoom).
    QCOMPARE(captions.mid(0, 7),
             (QStringList{"Help", "About", "-", "Be Silent", "Make Noise", "-", "Copy Image"}));
    QCOMPARE(items[0], form.Help1);
    QCOMPARE(items[1], form.About1);
    QCOMPARE(items[3], form.BeSilent1);
    QCOMPARE(items[4], form.NoSounds1);
    for (int i : {3, 4}) {
        const auto* item = qobject_cast<TMenuItem*>(items[i]);
        QVERIFY(item && item->RadioItem());
        QVERIFY(!item->isChecked());
    }
    QVERIFY(!form.Help1->RadioItem());
    form.BeSilent1->trigger();
    form.NoSounds1->trigger();
    QVERIFY(!form.BeSilent1->isChecked() && !form.NoSounds1->isChecked());
}

void TestCanvas::rightClickShowsThePopupMenu()
{
    auto form = StartedOnA();
    QVERIFY(form);
    QVERIFY(!form->PopupMenu1->isVisible());
    const QPoint at(5, 3);
    // Through the window, as the platform delivers it, so that Qt makes the
    // context-menu request from the click.
    QTest::mouseClick(form->windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    QTRY_VERIFY(form->PopupMenu1->isVisible());
    QCOMPARE(form->PopupMenu1->pos(), form->mapToGlobal(at));
    form->PopupMenu1->hide();
}

void TestCanvas::startsWithTheCommandLineFile()
{
    auto form = StartedOnA();
    QVERIFY(form);
    QVERIFY(Dialogs->Asked.empty());
    QVERIFY(Dialogs->Errors.isEmpty());
    QCOMPARE(form->pos(), QPoint(0, 0));
    const qreal ratio = form->devicePixelRatioF();
    QVERIFY(FitsExactly(form->width(), AWidth, ratio));
    QVERIFY(FitsExactly(form->height(), AHeight, ratio));
    QVERIFY(HoldsFixture(form->Source(), AWidth, AHeight, ASeed));
    QVERIFY(HoldsFixture(form->Output(), AWidth, AHeight, ASeed));
    QVERIFY(ShowsFixture(*form, AWidth, AHeight, ASeed));
    QCOMPARE(form->CurrentFile(), FileA);
}

void TestCanvas::startsWithoutAFileByAsking()
{
    Dialogs->OpenAnswers << FileB;
    TForm1 form(QString(), Player);
    form.SetWindows(nullptr, nullptr, &Panel);
    form.show();
    QTRY_VERIFY(Panel.isVisible());
    QCOMPARE(Dialogs->Asked.size(), std::size_t(1));
    QCOMPARE(Dialogs->Asked[0].Title, form.OpenDialog1.Title);
    QCOMPARE(form.CurrentFile(), FileB);
    QVERIFY(HoldsFixture(form.Output(), BWidth, BHeight, BSeed));
    QCOMPARE(Player.Names, QStringList{QStringLiteral("RCLICK")});
    QCOMPARE(Player.Modes[0], TPlayback::Async);
}

void TestCanvas::cancelledAtStartEndsTheProgram()
{
    TForm1 form(QString(), Player);
    form.SetWindows(nullptr, nullptr, &Panel);
    QCOMPARE(RunUntilExit([&] { form.show(); }), 0);
    QCOMPARE(Dialogs->Asked.size(), std::size_t(1));
    QVERIFY(Dialogs->Errors.isEmpty());
    QVERIFY(!Panel.isVisible());
    QCOMPARE(form.Source().Width(), 32);
}

void TestCanvas::badFileAtStartAsksAgain()
{
    const QString missing = Dir->filePath(QStringLiteral("missing.bmp"));
    const QString text = Dir->filePath(QStringLiteral("notes.bmp"));
    WriteFile(text, "These are notes, not a picture.\n");
    const QString empty = Dir->filePath(QStringLiteral("empty.bmp"));
    WriteFile(empty, EmptyBitmap(0, 5));

    Dialogs->OpenAnswers << text << empty << FileA;
    TForm1 form(missing, Player);
    form.SetWindows(nullptr, nullptr, &Panel);
    form.show();
    QTRY_VERIFY(Panel.isVisible());
    QCOMPARE(Dialogs->Errors, (QStringList{"Cannot open file " + missing,
                                           "Cannot open " + text +
                                               ": this is not an image file Tavrin can read",
                                           QStringLiteral("Bitmap image has no pixels")}));
    QCOMPARE(Dialogs->Asked.size(), std::size_t(3));
    QCOMPARE(form.CurrentFile(), FileA);
    QVERIFY(HoldsFixture(form.Output(), AWidth, AHeight, ASeed));
}

void TestCanvas::openCancelledKeepsTheImage()
{
    auto form = StartedOnA();
    QVERIFY(form);
    form->move(40, 30);
    QTRY_COMPARE(form->pos(), QPoint(40, 30));
    const QRect geometry = form->geometry();
    form->OpenFromDialog(form.get());
    QCOMPARE(Dialogs->Asked.size(), std::size_t(1));
    QCOMPARE(form->CurrentFile(), FileA);
    QCOMPARE(form->geometry(), geometry);
    QVERIFY(HoldsFixture(form->Source(), AWidth, AHeight, ASeed));
    QVERIFY(HoldsFixture(form->Output(), AWidth, AHeight, ASeed));
    QVERIFY(Player.Names.isEmpty());
    QVERIFY(Dialogs->Errors.isEmpty());
}

void TestCanvas::failedLoadKeepsTheImage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << "bad.bmp" << QByteArray() << "Cannot open file ";
    QTest::newRow("text") << "bad.bmp" << QByteArray("hello\n") << "not an image file";
    // A bitmap whose header says it has two planes.
    QByteArray planes = QByteArray("BM") + QByteArray(12, '\0');
    planes += QByteArray::fromHex("28000000" "05000000" "03000000" "0200" "1800");
    planes += QByteArray(24, '\0') + QByteArray(48, '\x40');
    QTest::newRow("planes") << "bad.bmp" << planes << "Bitmap image is not valid";
    QTest::newRow("no columns") << "bad.bmp" << EmptyBitmap(0, 7) << "Bitmap image has no pixels";
    QTest::newRow("no rows") << "bad.bmp" << EmptyBitmap(6, 0) << "Bitmap image has no pixels";
    // A photo cut short in its pixels, and one whose header announces 40000 pixels a side.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(23, 19, QImage::Format_RGB32).save(&buffer, "PNG");
    QTest::newRow("cut png") << "cut.png" << png.left(png.size() - 20) << "cut short";
    QByteArray huge = png.left(33);
    qToBigEndian<quint32>(40000, huge.data() + 16);
    qToBigEndian<quint32>(Crc32(huge.mid(12, 17)), huge.data() + 29);
    QTest::newRow("huge png") << "huge.png" << huge + png.mid(33)
                              << "larger than 32767 pixels a side";
}

void TestCanvas::failedLoadKeepsTheImage()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const QString bad = Dir->filePath(name);
    if (!content.isEmpty())
        WriteFile(bad, content);
    auto form = StartedOnA();
    QVERIFY(form);
    form->move(25, 35);
    QTRY_COMPARE(form->pos(), QPoint(25, 35));
    const QRect geometry = form->geometry();
    Panel.hide();

    Dialogs->OpenAnswers << bad;
    form->OpenFromDialog(form.get());
    QCOMPARE(Dialogs->Errors.size(), 1);
    QVERIFY2(Dialogs->Errors[0].contains(message), qPrintable(Dialogs->Errors[0]));
    QCOMPARE(form->CurrentFile(), FileA);
    QCOMPARE(form->geometry(), geometry);
    QVERIFY(!Panel.isVisible());
    QVERIFY(Player.Names.isEmpty());
    QVERIFY(HoldsFixture(form->Source(), AWidth, AHeight, ASeed));
    QVERIFY(HoldsFixture(form->Output(), AWidth, AHeight, ASeed));
    QVERIFY(ShowsFixture(*form, AWidth, AHeight, ASeed));
}

void TestCanvas::openingAnotherFileResizesTheWindow()
{
    auto form = StartedOnA();
    QVERIFY(form);
    form->move(60, 70);
    QTRY_COMPARE(form->pos(), QPoint(60, 70));
    Dialogs->OpenAnswers << FileB;
    form->OpenFromDialog(form.get());
    QCOMPARE(form->CurrentFile(), FileB);
    QTRY_COMPARE(form->pos(), QPoint(0, 0));
    const qreal ratio = form->devicePixelRatioF();
    QVERIFY(FitsExactly(form->width(), BWidth, ratio));
    QVERIFY(FitsExactly(form->height(), BHeight, ratio));
    QVERIFY(HoldsFixture(form->Source(), BWidth, BHeight, BSeed));
    QVERIFY(ShowsFixture(*form, BWidth, BHeight, BSeed));
    QCOMPARE(Player.Names, QStringList{QStringLiteral("RCLICK")});
}

void TestCanvas::droppedBitmapOpens()
{
    auto form = StartedOnA();
    QVERIFY(form);
    const QString notes = Dir->filePath(QStringLiteral("notes.txt"));
    QVERIFY(!DropFile(*form, notes));
    QVERIFY(DropFile(*form, FileB));
    QTRY_COMPARE(form->CurrentFile(), FileB);
    QVERIFY(HoldsFixture(form->Output(), BWidth, BHeight, BSeed));
    // Any readable format, whatever the letter case of its extension.
    const QString photo = MakeImage(*Dir, QStringLiteral("photo.PNG"), AWidth, AHeight, ASeed);
    QVERIFY(DropFile(*form, photo));
    QTRY_COMPARE(form->CurrentFile(), photo);
    QVERIFY(HoldsFixture(form->Output(), AWidth, AHeight, ASeed));

    // Never while a dialog waits (an export's progress, a file dialog), nor
    // when the drop came just before the dialog opened.
    QDialog waiting;
    waiting.setModal(true);
    waiting.show();
    QVERIFY(!DropFile(*form, FileB));
    waiting.hide();
    QVERIFY(DropFile(*form, FileB));
    waiting.show();
    QCoreApplication::processEvents();
    QCOMPARE(form->CurrentFile(), photo);
    QVERIFY(HoldsFixture(form->Output(), AWidth, AHeight, ASeed));
}

void TestCanvas::soundCommands()
{
    TForm1 form(QString(), Player);
    const auto played = [&](const std::function<void()>& Command) {
        Player.Clear();
        Command();
        return Player.Names;
    };
    QCOMPARE(played([&] { form.NoSounds1->trigger(); }), QStringList{"RSTART"});
    QCOMPARE(played([&] { form.Help1->trigger(); }), QStringList{"REXIT"});
    QCOMPARE(played([&] { form.About1->trigger(); }), QStringList{"RSTRUM"});
    QCOMPARE(played([&] { form.Beeper(2); }), QStringList{"RTICK"});
    QCOMPARE(played([&] { form.Beeper(6); }), QStringList{"RAIR"});
    QCOMPARE(Player.Modes, std::vector<TPlayback>{TPlayback::Async});
    QCOMPARE(played([&] { form.Beeper(7); }), QStringList{"RAIR"});
    QCOMPARE(Player.Modes, std::vector<TPlayback>{TPlayback::Wait});
    QVERIFY(played([&] { form.Beeper(8); }).isEmpty());

    QVERIFY(played([&] { form.BeSilent1->trigger(); }).isEmpty());
    QVERIFY(!form.SoundOn());
    QVERIFY(played([&] { form.Help1->trigger(); }).isEmpty());
    QVERIFY(played([&] { form.Beeper(1); }).isEmpty());
    QCOMPARE(played([&] { form.NoSounds1->trigger(); }), QStringList{"RSTART"});
    QVERIFY(form.SoundOn());
}

void TestCanvas::windowCommandsShowTheirWindows()
{
    TForm1 form(QString(), Player);
    QWidget about;
    QWidget help;
    form.SetWindows(&about, &help, &Panel);
    form.Help1->trigger();
    QVERIFY(help.isVisible());
    QVERIFY(!about.isVisible());
    form.About1->trigger();
    QVERIFY(about.isVisible());
    QVERIFY(!Panel.isVisible());
}

void TestCanvas::closingSoundWaitsUnlessSilent()
{
    {
        TForm1 form(QString(), Player);
    }
    QCOMPARE(Player.Names, QStringList{QStringLiteral("RAIR")});
    QCOMPARE(Player.Modes, std::vector<TPlayback>{TPlayback::Wait});
    Player.Clear();
    {
        TForm1 form(QString(), Player);
        form.BeSilent1Click();
    }
    QVERIFY(Player.Names.isEmpty());
    ResetPreferences(); // the silence would last into the next start

    // Run early, as the program runs it while its other windows are still
    // there, the closing step runs once, and a drop still queued finds
    // nothing to load into.
    {
        auto form = StartedOnA();
        QVERIFY(form);
        QVERIFY(DropFile(*form, FileB));
        form->FormDestroy();
        QCOMPARE(Player.Names, QStringList{QStringLiteral("RAIR")});
        QCoreApplication::sendPostedEvents();
        QCOMPARE(form->CurrentFile(), FileA);
        QVERIFY(Dialogs->Errors.isEmpty());
    }
    QCOMPARE(Player.Names, QStringList{QStringLiteral("RAIR")});
}

void TestCanvas::draggingMovesTheWindow()
{
    auto form = StartedOnA();
    QVERIFY(form);
    form->move(50, 40);
    QTRY_COMPARE(form->pos(), QPoint(50, 40));
    const QPoint grip = form->mapToGlobal(QPoint(3, 4));
    SendMouse(*form, QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    SendMouse(*form, QEvent::MouseMove, grip + QPoint(30, 7), Qt::NoButton, Qt::LeftButton);
    QTRY_COMPARE(form->pos(), QPoint(80, 47));
    SendMouse(*form, QEvent::MouseMove, grip + QPoint(-10, 20), Qt::NoButton, Qt::LeftButton);
    QTRY_COMPARE(form->pos(), QPoint(40, 60));
    SendMouse(*form, QEvent::MouseButtonRelease, grip + QPoint(-10, 20), Qt::LeftButton,
              Qt::NoButton);
    SendMouse(*form, QEvent::MouseMove, grip + QPoint(90, 90), Qt::NoButton, Qt::NoButton);
    QTest::qWait(0);
    QCOMPARE(form->pos(), QPoint(40, 60));
}

void TestCanvas::saveWritesTheOutputOrSaysWhyNot()
{
    auto form = StartedOnA();
    QVERIFY(form);
    const QString copy = Dir->filePath(QStringLiteral("copy.bmp"));
    QVERIFY(form->SaveOutput(copy));
    tavrin::TWin saved;
    saved.LoadFromFile(QFile::encodeName(copy).toStdString());
    QVERIFY(HoldsFixture(saved, AWidth, AHeight, ASeed));

    const QString nowhere = Dir->filePath(QStringLiteral("no/such/folder/x.bmp"));
    QVERIFY(!form->SaveOutput(nowhere));
    QCOMPARE(Dialogs->Errors.size(), 1);
    QVERIFY(Dialogs->Errors[0].contains(QStringLiteral("x.bmp")));
    QVERIFY(!QFile::exists(nowhere));
}

void TestCanvas::closingTheCanvasEndsTheProgram()
{
    auto form = StartedOnA();
    QVERIFY(form);
    QCOMPARE(RunUntilExit([&] { form->close(); }), 0);
}

TAVRIN_TEST_MAIN(TestCanvas)
#include "canvas_test.moc"
