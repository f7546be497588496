#include "Unit1.h"

#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QProgressDialog>
#include <QScopedValueRollback>
#include <QTimer>
#include <QApplication>
#include <QBackingStore>
#include <QPaintEngine>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>
#include <QtMath>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <thread>

#include "Downscale.h"
#include "ImageFiles.h"
#include "HandlerGuard.h"
#include "Preferences.h"
#include "RecentFiles.h"
#include "SysMenu.h"
#include "framework/Application.h"
#include "framework/Menus.h"
#include "framework/PainterTarget.h"
#include "framework/SoundPlayer.h"

namespace {

// Wayland never tells a window where it is.
bool WindowPlaceUnknown()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// X11 keeps window sizes in 16 bits.
constexpr int LargestWindowSide = 32767;
// Below 100 %, the exact view starts this long after the last slider step,
// and runs in slices of at most about this long between events.
constexpr int RestMs = 100;
constexpr qint64 SliceMs = 10;

// The wave resource of each sound number; 7 is the closing sound.
constexpr std::array<const char*, 8> SoundNames{"RSTART", "RCLICK", "RTICK", "RPOP",
                                                "RSTRUM", "REXIT",  "RAIR",  "RAIR"};

const QString SoundKey = QStringLiteral("Sounds/On");

// The encoded picture on the clipboard, or nothing: the first image format on
// offer, PNG first. A picture copied within the program is held decoded, and
// is encoded here so that it is read as every other one is.
QByteArray ClipboardPicture()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data)
        return {};
    QStringList formats = data->formats().filter(QRegularExpression(QStringLiteral("^image/")));
    formats.prepend(QStringLiteral("image/png"));
    for (const QString& format : formats)
        if (data->hasFormat(format))
            if (const QByteArray bytes = data->data(format); !bytes.isEmpty())
                return bytes;
    QByteArray bytes;
    if (data->hasImage()) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        qvariant_cast<QImage>(data->imageData()).save(&buffer, "PNG");
    }
    return bytes;
}

// The one local image file a drag carries, or an empty string. The drop is
// judged by the name; the file is opened by its content.
QString DroppedImage(const QMimeData* Data)
{
    if (!Data || !Data->hasUrls() || Data->urls().size() != 1)
        return {};
    const QUrl url = Data->urls().constFirst();
    const QString name = url.toLocalFile();
    static const QStringList readable = tavrin::ReadableExtensions();
    if (!url.isLocalFile() || !readable.contains(QFileInfo(name).suffix().toLower()))
        return {};
    return name;
}

// "*.a;*.b" for the extensions given.
QString Patterns(const QStringList& Extensions)
{
    return QStringLiteral("*.") + Extensions.join(QLatin1String(";*."));
}

void ShowWindow(QWidget* Window)
{
    if (!Window)
        return;
    Window->show();
    Window->raise();
    Window->activateWindow();
}

} // namespace

QString OpenImageFilter()
{
    return QStringLiteral("Images|") + Patterns(tavrin::ReadableExtensions()) +
           QStringLiteral("|Bitmap Files|*.bmp|All Files|*");
}

QString SaveImageFilter()
{
    QStringList filters;
    for (const tavrin::TWritableFormat& format : tavrin::WritableFormats())
        filters << (format.Name == QLatin1String("Bitmap")
                        ? QStringLiteral("Bitmap Files")
                        : format.Name + QStringLiteral(" Images"))
                << Patterns(format.Extensions);
    return filters.join(QLatin1Char('|'));
}

TForm1::TForm1(const QString& FileName, TSoundPlayer& Sounds, QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint),
      Sounds(Sounds)
{
    setWindowTitle(QStringLiteral("Tavrin"));
    setGeometry(38, 86, 187, 68);
    setAcceptDrops(true);
    // The paint covers every pixel it is asked for: no background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    CreatePopupMenu();
    OrvelSystemMenu1 = new TOrvelSystemMenu(this);
    OrvelSystemMenu1->setPosition(0);
    OrvelSystemMenu1->setPopupMenu(PopupMenu1);
    OrvelSystemMenu1->Loaded();
    // After the extender has copied the popup: the window menu keeps its own items.
    CreateViewItems();
    RefineTimer.setSingleShot(true);
    connect(&RefineTimer, &QTimer::timeout, this, &TForm1::RefineView);
    FormCreate(FileName);
    // A screen that appears or grows shows parts painted before the last step.
    const auto watch = [this](QScreen* Screen) {
        connect(Screen, &QScreen::geometryChanged, this, &TForm1::PaintStaleVisible);
    };
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen* Screen) {
        watch(Screen);
        PaintStaleVisible();
    });
}

TForm1::~TForm1()
{
    FormDestroy();
}

void TForm1::CreatePopupMenu()
{
    PopupMenu1 = new QMenu(this);
    Help1 = AddMenuItem(PopupMenu1, QStringLiteral("Help"));
    About1 = AddMenuItem(PopupMenu1, QStringLiteral("About"));
    AddMenuItem(PopupMenu1, QStringLiteral("-"));
    BeSilent1 = AddMenuItem(PopupMenu1, QStringLiteral("Be Silent"));
    NoSounds1 = AddMenuItem(PopupMenu1, QStringLiteral("Make Noise"));
    AddMenuItem(PopupMenu1, QStringLiteral("-"));
    CopyImage1 = AddMenuItem(PopupMenu1, QStringLiteral("Copy Image"));
    BeSilent1->setRadioItem(true);
    NoSounds1->setRadioItem(true);
    connect(Help1, &QAction::triggered, this, &TForm1::Help1Click);
    connect(About1, &QAction::triggered, this, &TForm1::About1Click);
    connect(BeSilent1, &QAction::triggered, this, &TForm1::BeSilent1Click);
    connect(NoSounds1, &QAction::triggered, this, &TForm1::NoSounds1Click);
    connect(CopyImage1, &QAction::triggered, this, &TForm1::CopyImage1Click);
}

void TForm1::CreateViewItems()
{
    const auto item = [this](const QString& Text, QList<QKeySequence> Keys, void (TForm1::*Click)()) {
        auto* action = new QAction(Text, this);
        action->setShortcuts(Keys);
        // Like the File shortcuts: in every window of the program.
        action->setShortcutContext(Qt::ApplicationShortcut);
        connect(action, &QAction::triggered, this, Click);
        addAction(action);
        return action;
    };
    ZoomIn1 = item(QStringLiteral("Zoom In"),
                   {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
                   &TForm1::ZoomIn1Click);
    ZoomOut1 = item(QStringLiteral("Zoom Out"), {QKeySequence(Qt::CTRL | Qt::Key_Minus)},
                    &TForm1::ZoomOut1Click);
    FitOnScreen1 = item(QStringLiteral("Fit on Screen"), {QKeySequence(Qt::CTRL | Qt::Key_0)},
                        &TForm1::FitOnScreen1Click);
    ActualPixels1 = item(QStringLiteral("Actual Pixels"), {QKeySequence(Qt::CTRL | Qt::Key_1)},
                         &TForm1::ActualPixels1Click);
    ZoomShown1 = new QAction(this);
    ZoomShown1->setEnabled(false);
    PopupMenu1->addSeparator();
    PopupMenu1->addActions({ZoomIn1, ZoomOut1, FitOnScreen1, ActualPixels1});
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(ZoomShown1);
    ShowZoom();
}

void TForm1::SetWindows(QWidget* About, QWidget* Help, QWidget* ControlPanel)
{
    AboutWindow = About;
    HelpWindow = Help;
    this->ControlPanel = ControlPanel;
}

void TForm1::FormCreate(const QString& CommandLineFile)
{
    FileName = CommandLineFile;
    SoundSwitch = Preference(SoundKey, true).toBool();
    // The zoom the user chose last; the command line may choose another.
    if (const auto zoom = ReadZoomChoice(Preference(ZoomKey).toString()))
        StartZoomed(*zoom);
    SourceSurface = std::make_unique<tavrin::TWin>(32, 32);
    OutputSurface = std::make_unique<tavrin::TWin>(32, 32);
}

void TForm1::FormDestroy()
{
    if (!OutputSurface)
        return; // ran already
    OutputSurface.reset();
    SourceSurface.reset();
    hide(); // the program is gone for the user while the closing sound plays
    Beeper(7);
}

void TForm1::FormShow()
{
    // A large JPEG first shows a view from a reduced decode at Fit on
    // Screen, or its top rows at actual size; the whole picture is taken
    // once that view is on the screen.
    if (!HasImage && !FileName.isEmpty() && ShowPreview(FileName)) {
        QTimer::singleShot(1000, this, &TForm1::OpenAfterPreview); // should no paint come
        return;
    }
    OpenOrAsk();
}

void TForm1::OpenAfterPreview()
{
    if (!FirstView)
        return; // opened already
    FirstView.reset();
    OpenOrAsk();
}

void TForm1::OpenOrAsk()
{
    if (!FileName.isEmpty() && OpenFile(FileName))
        return;
    // Nothing is open yet: an empty borderless window would leave the user
    // no way on, so ask until a file loads or the user gives up.
    while (!HasImage) {
        const QString chosen = Dialogs().OpenFileName(this, OpenDialog1, LastFolder(OpenFolder));
        if (chosen.isEmpty()) {
            TerminateApplication();
            return;
        }
        OpenFile(chosen);
    }
}

void TForm1::OpenFromDialog(QWidget* DialogParent)
{
    const QString chosen =
        Dialogs().OpenFileName(DialogParent, OpenDialog1, LastFolder(OpenFolder));
    if (!chosen.isEmpty())
        OpenFile(chosen);
}

void TForm1::StartOpening()
{
    if (FileName.isEmpty())
        return;
    AheadName = FileName;
    const std::string name = QFile::encodeName(FileName).toStdString();
    // At Fit on Screen the whole decode follows the reduced one at once; at
    // actual size the rows the screens show are handed over on the way.
    // Where nothing tells which part of the window shows, there is no part
    // to hand over.
    const bool rows = !FitMode && ZoomFactor == 1 && !WindowPlaceUnknown();
    std::promise<std::optional<tavrin::TPreview>> preview;
    if (FitMode || rows)
        PreviewAhead = preview.get_future();
    // Once it has handed a first view over, the decode waits a moment for
    // it to be painted: the two would share the cores.
    DecodeGate.emplace();
    std::shared_future<void> painted = DecodeGate->get_future().share();
    // The window is at 0,0: its part on the screens ends where they end.
    const QRect screens = QGuiApplication::primaryScreen()->virtualGeometry();
    const qreal ratio = devicePixelRatioF();
    const tavrin::TViewSize shown{qCeil((screens.right() + 1) * ratio), qCeil((screens.bottom() + 1) * ratio)};
    PictureAhead = std::async(std::launch::async, [name, room = ScreenPixels(), fit = FitMode, rows, shown,
                                                   preview = std::move(preview), painted]() mutable {
        const auto waitForPaint = [&] { painted.wait_for(std::chrono::milliseconds(100)); };
        if (fit) {
            preview.set_value(tavrin::ReadJpegPreview(name, room.Width, room.Height));
            waitForPaint();
            return tavrin::ReadPlainJpeg(name);
        }
        bool handed = false;
        const tavrin::TEarlyPart early{shown.Width, shown.Height, [&](tavrin::TPreview Part) {
                                           preview.set_value(std::move(Part));
                                           handed = true;
                                           waitForPaint();
                                       }};
        std::optional<tavrin::TWin> picture = tavrin::ReadPlainJpeg(name, rows ? &early : nullptr);
        if (!handed)
            preview.set_value(std::nullopt);
        return picture;
    });
}

bool TForm1::OpenFile(const QString& Name)
{
    const bool started = PictureAhead.valid() && Name == AheadName;
    LetDecodeGoOn();
    if (!LoadImage([&] {
            std::optional<tavrin::TWin> ahead = started ? PictureAhead.get() : std::nullopt;
            return ahead ? std::move(*ahead) : tavrin::ReadImageFile(Name);
        }))
        return false;
    SetCurrentFile(Name);
    ShowImage();
    // After the picture is on the screen: these write files of their own.
    AddRecentFile(Name);
    RememberFolder(OpenFolder, Name);
    return true;
}

bool TForm1::ShowPreview(const QString& Name)
{
    const tavrin::TViewSize screenPixels = ScreenPixels();
    std::optional<tavrin::TPreview> preview;
    try {
        if (PreviewAhead.valid() && Name == AheadName)
            preview = PreviewAhead.get();
        else if (FitMode)
            preview = tavrin::ReadJpegPreview(QFile::encodeName(Name).toStdString(),
                                              screenPixels.Width, screenPixels.Height);
    } catch (const std::exception&) {
        // The whole decode reads the file again, and says what went wrong.
    }
    if (!preview || (!FitMode && ZoomFactor != 1))
        return false;
    const double zoom = FitMode ? tavrin::FitZoom(preview->Width, preview->Height, screenPixels) : 1;
    if (FitMode && zoom >= 1)
        return false; // shown at actual size: nothing to gain
    // Sized as the view of the whole picture will be; the output's size is
    // not known to the paint yet, so it goes by the view's.
    const tavrin::TViewSize size = tavrin::ViewSize(preview->Width, preview->Height, zoom);
    tavrin::TWin view;
    if (FitMode) {
        view = tavrin::TWin(size.Width, size.Height);
        tavrin::AreaDownscale(preview->Reduced, view);
    } else {
        view.swap(preview->Reduced); // the part the screens show, at actual size
    }
    RefineTimer.stop();
    ZoomFactor = zoom;
    View.swap(view);
    ExactRows = View.Height();
    FirstView = TFirstView{size, WindowSize(size)};
    resize(FirstView->Window);
    move(FitMode ? screen()->availableGeometry().topLeft() : QPoint(0, 0));
    update();
    return true;
}

bool TForm1::PasteImage()
{
    const QByteArray picture = ClipboardPicture();
    if (picture.isEmpty())
        return false;
    if (LoadImage([&] { return tavrin::DecodeImage(picture, PastedImageName); })) {
        FileName = PastedImageName;
        Pasted = true;
        ShowImage();
    }
    return true;
}

void TForm1::CopyImage1Click()
{
    TAVRIN_GUARD_HANDLER();
    const tavrin::TWin& output = Output();
    QGuiApplication::clipboard()->setImage(QImage(output.Bits, output.Width(), output.Height(),
                                                  qsizetype(output.Stride),
                                                  QImage::Format_BGR888)
                                               .copy());
}

void TForm1::SetCurrentFile(const QString& Name)
{
    FileName = Name;
    Pasted = false;
}

bool TForm1::LoadImage(const std::function<tavrin::TWin()>& Read)
{
    // Both surfaces change together or not at all.
    try {
        tavrin::TWin source = Read();
        // A valid file may hold no pixels; there would be nothing to show.
        if (source.Empty())
            throw std::runtime_error("Bitmap image has no pixels");
        // Filled from the source as parts of it are shown or needed.
        tavrin::TWin output(source.Width(), source.Height());
        SourceSurface->swap(source);
        OutputSurface->swap(output);
        Rendered.SetAsLoaded(OutputSurface->Width(), OutputSurface->Height());
        ShownPositions.reset();
        AsLoaded = true;
    } catch (const std::exception& error) {
        TApplication::HandleException(error);
        return false;
    }
    HasImage = true;
    return true;
}

void TForm1::ShowImage()
{
    if (FitMode)
        ZoomFactor = FitZoomHere();
    PrepareView();
    ResizeToView();
    move(FitMode ? screen()->availableGeometry().topLeft() : QPoint(0, 0));
    ShowZoom();
    repaint();
    if (ControlPanel)
        ControlPanel->show();
    Beeper(1);
}

tavrin::TWin& TForm1::Output()
{
    Rendered.EnsureAll(*SourceSurface, *OutputSurface);
    return *OutputSurface;
}

void TForm1::ShowPositions(const tavrin::SliderPositions& Positions)
{
    AsLoaded = false;
    Rendered.SetPositions(OutputSurface->Width(), OutputSurface->Height(), Positions);
    ShownPositions = Positions;
    if (ZoomFactor < 1)
        ShowLiveView();
    Stale = rect();
    PaintStaleVisible();
}

void TForm1::ShowAgain(const tavrin::SliderPositions& Positions)
{
    if (!AsLoaded)
        return ShowPositions(Positions);
    Rendered.SetAsLoaded(OutputSurface->Width(), OutputSurface->Height());
    ShownPositions.reset();
    if (ZoomFactor < 1)
        ShowLiveView();
    repaint();
}

tavrin::TViewSize TForm1::ShownSize() const
{
    return tavrin::ViewSize(OutputSurface->Width(), OutputSurface->Height(), ZoomFactor);
}

tavrin::TViewSize TForm1::ScreenPixels() const
{
    const qreal ratio = devicePixelRatioF();
    const QRect room = screen()->availableGeometry();
    return {qFloor(room.width() * ratio), qFloor(room.height() * ratio)};
}

double TForm1::FitZoomHere() const
{
    return tavrin::FitZoom(OutputSurface->Width(), OutputSurface->Height(), ScreenPixels());
}

QSize TForm1::WindowSize(tavrin::TViewSize View) const
{
    // One view pixel to one device pixel, also on a high-density screen.
    const qreal ratio = devicePixelRatioF();
    return {std::clamp(qCeil(View.Width / ratio), 1, LargestWindowSide),
            std::clamp(qCeil(View.Height / ratio), 1, LargestWindowSide)};
}

void TForm1::ResizeToView()
{
    resize(WindowSize(ShownSize()));
}

void TForm1::PrepareView()
{
    RefineTimer.stop();
    if (ZoomFactor >= 1) {
        View = {};
        ReducedSource = {};
        ExactRows = 0;
        return;
    }
    const tavrin::TViewSize size = ShownSize();
    tavrin::TWin reduced(size.Width, size.Height);
    tavrin::AreaDownscale(*SourceSurface, reduced);
    ReducedSource.swap(reduced);
    View = tavrin::TWin(size.Width, size.Height);
    ShowLiveView();
}

void TForm1::ShowLiveView()
{
    if (!ShownPositions) {
        // The output is the picture as loaded: the reduced source is exact.
        View = ReducedSource;
        ExactRows = View.Height();
        return;
    }
    const double scale = double(View.Width()) / OutputSurface->Width();
    tavrin::Render(ReducedSource, View, tavrin::ScaledPositions(*ShownPositions, scale));
    ExactRows = 0;
    RefineTimer.start(RestMs);
}

void TForm1::RefineView()
{
    if (!OutputSurface || ExactRows >= View.Height())
        return;
    // Bands large enough to share among the cores, small enough for a slice.
    constexpr std::int32_t bandRows = 32;
    const tavrin::TViewSize size{View.Width(), View.Height()};
    const std::int32_t first = ExactRows;
    QElapsedTimer clock;
    clock.start();
    while (ExactRows < size.Height && clock.elapsed() < SliceMs) {
        const tavrin::TRect band{0, ExactRows, size.Width, std::min(ExactRows + bandRows, size.Height)};
        Rendered.Ensure(*SourceSurface, *OutputSurface,
                        tavrin::OutputArea(OutputSurface->Width(), OutputSurface->Height(), size, band));
        tavrin::AreaDownscale(*OutputSurface, View, band);
        ExactRows = band.Bottom;
    }
    const qreal ratio = devicePixelRatioF();
    update(QRectF(0, first / ratio, width(), (ExactRows - first) / ratio).toAlignedRect());
    if (ExactRows < size.Height)
        RefineTimer.start(0);
}

void TForm1::SetZoom(double NewZoom, std::optional<QPoint> Anchor)
{
    // Before the picture is open (a first view may show) the choice waits
    // for it: ShowImage goes by FitMode.
    if (!OutputSurface || !HasImage || NewZoom == ZoomFactor)
        return;
    const tavrin::TViewSize before = ShownSize();
    const QPoint held = Anchor ? mapToGlobal(*Anchor) : QPoint();
    ZoomFactor = NewZoom;
    PrepareView();
    ResizeToView();
    if (Anchor) {
        const tavrin::TViewSize after = ShownSize();
        move(held - QPoint(qRound(Anchor->x() * double(after.Width) / before.Width),
                           qRound(Anchor->y() * double(after.Height) / before.Height)));
    }
    ShowZoom();
    Stale = rect();
    update();
}

void TForm1::StartZoomed(std::optional<double> Zoom)
{
    FitMode = !Zoom;
    ZoomFactor = Zoom.value_or(1);
    ShowZoom();
}

void TForm1::ShowZoom()
{
    ZoomShown1->setText(QStringLiteral("Zoom %1 %").arg(qRound(ZoomFactor * 1000) / 10.0));
    ZoomIn1->setEnabled(tavrin::NextZoomStep(ZoomFactor, 1) != ZoomFactor);
    ZoomOut1->setEnabled(tavrin::NextZoomStep(ZoomFactor, -1) != ZoomFactor);
}

std::optional<TZoomChoice> ReadZoomChoice(const QString& Text)
{
    if (Text == QLatin1String("fit"))
        return TZoomChoice();
    bool number = false;
    const double percent = Text.toDouble(&number);
    if (number && percent >= 100 * tavrin::ZoomSteps.front() &&
        percent <= 100 * tavrin::ZoomSteps.back())
        return percent / 100;
    return std::nullopt;
}

void TForm1::RememberZoom()
{
    SetPreference(ZoomKey,
                  FitMode ? QStringLiteral("fit") : QString::number(ZoomFactor * 100, 'g', 17));
}

void TForm1::ZoomIn1Click()
{
    TAVRIN_GUARD_HANDLER();
    FitMode = false;
    SetZoom(tavrin::NextZoomStep(ZoomFactor, 1));
    RememberZoom();
}

void TForm1::ZoomOut1Click()
{
    TAVRIN_GUARD_HANDLER();
    FitMode = false;
    SetZoom(tavrin::NextZoomStep(ZoomFactor, -1));
    RememberZoom();
}

void TForm1::FitOnScreen1Click()
{
    TAVRIN_GUARD_HANDLER();
    FitMode = true;
    SetZoom(FitZoomHere());
    move(screen()->availableGeometry().topLeft());
    RememberZoom();
}

void TForm1::ActualPixels1Click()
{
    TAVRIN_GUARD_HANDLER();
    FitMode = false;
    SetZoom(1);
    RememberZoom();
}

QRegion TForm1::VisiblePart() const
{
    if (WindowPlaceUnknown())
        return rect(); // all of it may show
    const QRect window(mapToGlobal(QPoint(0, 0)), size());
    QRegion shown;
    for (const QScreen* screen : QGuiApplication::screens())
        shown += screen->geometry() & window;
    return shown.translated(-window.topLeft());
}

void TForm1::PaintStaleVisible()
{
    // The backing store keeps what was painted before; it shows again as it
    // is when the window moves, so what comes into view is painted first.
    const QRegion due = Stale & VisiblePart();
    if (!due.isEmpty() && isVisible())
        repaint(due);
}

bool TForm1::SaveOutput(const QString& Name)
{
    bool written = false;
    try {
        tavrin::TImageWrite write(Name);
        const tavrin::TWin& output = Output();
        const QScopedValueRollback saving(Saving, true);
        written = WhileWaiting(QStringLiteral("Saving %1…").arg(QFileInfo(Name).fileName()),
                               [&](tavrin::TWriteProgress& Progress) {
                                   return write.Run(output, &Progress);
                               });
    } catch (const std::exception& error) {
        TApplication::HandleException(error);
        return false;
    }
    if (written)
        AddRecentFile(Name);
    return written;
}

bool TForm1::WhileWaiting(const QString& What,
                          const std::function<bool(tavrin::TWriteProgress&)>& Work)
{
    // The work runs on its own thread over plain data and touches nothing of
    // Qt; this thread only watches its progress. The windows keep answering
    // but take no input: first none at all, then, once a progress dialog
    // shows, only the dialog's.
    tavrin::TWriteProgress progress;
    std::atomic<bool> finished = false;
    bool done = false;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            done = Work(progress);
        } catch (...) {
            failure = std::current_exception();
        }
        finished = true;
    });
    QProgressDialog dialog(What, QStringLiteral("Cancel"), 0, 1000, this);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(300); // quick saves show nothing
    dialog.setValue(0);             // starts the dialog's clock towards showing
    connect(&dialog, &QProgressDialog::canceled, [&] { progress.Cancel = true; });
    QEventLoop loop;
    QTimer watch;
    bool shown = false;
    connect(&watch, &QTimer::timeout, [&] {
        if (finished || dialog.isVisible() != shown)
            loop.quit();
        else if (shown)
            dialog.setValue(progress.Permille);
    });
    watch.start(30);
    while (!finished) {
        shown = dialog.isVisible();
        loop.exec(shown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    }
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return done;
}

bool TForm1::Waiting() const
{
    return Saving || QApplication::activeModalWidget();
}

void TForm1::Help1Click()
{
    TAVRIN_GUARD_HANDLER();
    ShowWindow(HelpWindow);
    Beeper(5);
}

void TForm1::About1Click()
{
    TAVRIN_GUARD_HANDLER();
    ShowWindow(AboutWindow);
    Beeper(4);
}

void TForm1::BeSilent1Click()
{
    TAVRIN_GUARD_HANDLER();
    SoundSwitch = false;
    SetPreference(SoundKey, false);
}

void TForm1::NoSounds1Click()
{
    TAVRIN_GUARD_HANDLER();
    SoundSwitch = true;
    SetPreference(SoundKey, true);
    Beeper(0);
}

void TForm1::Beeper(unsigned N)
{
    if (!SoundSwitch || N >= SoundNames.size())
        return;
    Sounds.Play(QString::fromLatin1(SoundNames[N]), N == 7 ? TPlayback::Wait : TPlayback::Async);
}

void TForm1::showEvent(QShowEvent* Event)
{
    QWidget::showEvent(Event);
    // Queued: the window is on screen, and the message loop runs, before
    // FormShow asks for a file or ends the program.
    if (!Event->spontaneous())
        QMetaObject::invokeMethod(this, &TForm1::FormShow, Qt::QueuedConnection);
}

void TForm1::paintEvent(QPaintEvent* Event)
{
    if (!OutputSurface)
        return;
    QPainter canvas(this);
    // Parts of the window off every screen wait until they come into view,
    // so that showing a large picture costs what the screen shows; a grab of
    // the window gets all it asks for.
    QRegion due = Event->region();
    if (const QPaintEngine* engine = canvas.paintEngine();
        engine && backingStore() && engine->paintDevice() == backingStore()->paintDevice()) {
        const QRegion hidden = due - VisiblePart();
        Stale += hidden;
        due -= hidden;
    }
    Stale -= due;
    // Only the parts due are drawn, in device pixels.
    const qreal ratio = devicePixelRatioF();
    QRegion area;
    for (const QRect& part : due)
        area += QRectF(part.x() * ratio, part.y() * ratio, part.width() * ratio, part.height() * ratio)
                    .toAlignedRect();
    // The paint covers the window (no background first) except where the
    // window's device pixels reach past the view: its last partial pixels.
    const tavrin::TViewSize view = FirstView      ? FirstView->Pixels
                                   : ZoomFactor < 1 ? tavrin::TViewSize{View.Width(), View.Height()}
                                                    : ShownSize();
    const int right = qFloor(view.Width / ratio);
    const int bottom = qFloor(view.Height / ratio);
    canvas.fillRect(QRect(right, 0, width() - right, height()), palette().window());
    canvas.fillRect(QRect(0, bottom, width(), height() - bottom), palette().window());
    if (ZoomFactor > 1)
        return PaintBlocks(canvas, area);
    if (ZoomFactor < 1 || FirstView)
        return PaintView(canvas, area);
    for (const QRect& pixels : area)
        Rendered.Ensure(*SourceSurface, *OutputSurface,
                        tavrin::TRect{pixels.left(), pixels.top(), pixels.right() + 1, pixels.bottom() + 1});
    FormPaint(canvas, area);
}

void TForm1::PaintView(QPainter& Canvas, const QRegion& Area)
{
    TPainterTarget target(Canvas, Area);
    View.Draw(target, 0, 0, 0, View.Width(), View.Height(), View.Width(), View.Height());
    // A first view at its size is on the screen once this paint is flushed.
    if (FirstView && size() == FirstView->Window) {
        LetDecodeGoOn();
        QMetaObject::invokeMethod(this, &TForm1::OpenAfterPreview, Qt::QueuedConnection);
    }
}

void TForm1::LetDecodeGoOn()
{
    if (DecodeGate)
        DecodeGate->set_value();
    DecodeGate.reset();
}

void TForm1::PaintBlocks(QPainter& Canvas, const QRegion& Area)
{
    TPainterTarget target(Canvas, Area);
    const tavrin::TViewSize view = ShownSize();
    // Bands keep the memory of the blocks small, whatever the window's size.
    constexpr int bandRows = 64;
    for (const QRect& part : Area) {
        const QRect shown = part & QRect(0, 0, view.Width, view.Height);
        for (int top = shown.top(); top <= shown.bottom(); top += bandRows) {
            const tavrin::TRect band{shown.left(), top, shown.right() + 1,
                                     std::min(top + bandRows, shown.bottom() + 1)};
            Rendered.Ensure(*SourceSurface, *OutputSurface,
                            tavrin::OutputArea(OutputSurface->Width(), OutputSurface->Height(), view, band));
            tavrin::TWin blocks(band.Right - band.Left, band.Bottom - band.Top);
            tavrin::NearestBlocks(*OutputSurface, view, band, blocks);
            target.BlockCopy(blocks, 0, 0, blocks.Width(), blocks.Height(), band.Left, band.Top);
        }
    }
}

void TForm1::FormPaint(QPainter& Canvas, const QRegion& Area)
{
    TPainterTarget target(Canvas, Area);
    const qreal ratio = devicePixelRatioF();
    OutputSurface->Draw(target, 0, 0, 0, OutputSurface->Width(), OutputSurface->Height(),
                        qRound(width() * ratio), qRound(height() * ratio));
}

void TForm1::moveEvent(QMoveEvent* Event)
{
    QWidget::moveEvent(Event);
    PaintStaleVisible();
}

void TForm1::closeEvent(QCloseEvent* Event)
{
    // Closing the main form ends the program.
    Event->accept();
    TerminateApplication();
}

void TForm1::contextMenuEvent(QContextMenuEvent* Event)
{
    PopupMenu1->popup(Event->globalPos());
}

void TForm1::mousePressEvent(QMouseEvent* Event)
{
    if (Event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(Event);
    // The window manager moves the window where it can; elsewhere it follows
    // the mouse by hand.
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    DragOffset = Event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TForm1::mouseMoveEvent(QMouseEvent* Event)
{
    if (DragOffset && (Event->buttons() & Qt::LeftButton))
        move(Event->globalPosition().toPoint() - *DragOffset);
}

void TForm1::mouseReleaseEvent(QMouseEvent* Event)
{
    if (Event->button() == Qt::LeftButton)
        DragOffset.reset();
    QWidget::mouseReleaseEvent(Event);
}

void TForm1::wheelEvent(QWheelEvent* Event)
{
    if (!(Event->modifiers() & Qt::ControlModifier))
        return QWidget::wheelEvent(Event);
    Event->accept();
    // One step for each notch; a touchpad's small turns add up to one.
    constexpr int notch = 120;
    WheelRest += Event->angleDelta().y();
    if (std::abs(WheelRest) < notch)
        return;
    const int direction = WheelRest > 0 ? 1 : -1;
    WheelRest = 0;
    FitMode = false;
    SetZoom(tavrin::NextZoomStep(ZoomFactor, direction), Event->position().toPoint());
    RememberZoom();
}

void TForm1::dragEnterEvent(QDragEnterEvent* Event)
{
    if (!DroppedImage(Event->mimeData()).isEmpty() && !Waiting())
        Event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* Event)
{
    // While a dialog waits (an export's progress, a file dialog) or a save
    // runs, a picture opened would change the surfaces under it or take the
    // dialog's name.
    const QString name = DroppedImage(Event->mimeData());
    if (name.isEmpty() || Waiting())
        return;
    Event->acceptProposedAction();
    // Opened after the drop has finished, so that an error box does not hold
    // up the other program's drag; not once the program is closing and the
    // surfaces are gone, nor if a dialog has opened meanwhile.
    QMetaObject::invokeMethod(
        this,
        [this, name] {
            if (OutputSurface && !Waiting())
                OpenFile(name);
        },
        Qt::QueuedConnection);
}
