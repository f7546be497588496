// The canvas window, the program's main form: owns the source and output
// surfaces, shows the output at actual size or zoomed in a borderless window
// that drags from anywhere, carries the popup menu and plays the sounds.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QRegion>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "ImageFiles.h"
#include "LazyOutput.h"
#include "TWin.h"
#include "ZoomView.h"
#include "framework/Dialogs.h"

namespace tavrin {
struct TWriteProgress;
}

class QAction;
class QMenu;
class TMenuItem;
class TOrvelSystemMenu;
class TSoundPlayer;

// The name of a picture pasted from the clipboard.
inline const QString PastedImageName = QStringLiteral("Pasted image");

// The Open dialog's filters: every readable image, then bitmaps, then any file.
QString OpenImageFilter();
// The Save As dialog's filters: one for each format that can be written.
QString SaveImageFilter();

// A zoom as --zoom and the preferences give it: none for Fit on Screen.
using TZoomChoice = std::optional<double>;
// "fit", or a percentage within the zoom steps; nothing for any other text.
std::optional<TZoomChoice> ReadZoomChoice(const QString& Text);

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // FileName: the file to open when the window is first shown; empty to ask.
    TForm1(const QString& FileName, TSoundPlayer& Sounds, QWidget* Parent = nullptr);
    ~TForm1() override;

    // The windows that the commands show: About, Help and the control panel.
    void SetWindows(QWidget* About, QWidget* Help, QWidget* ControlPanel);

    tavrin::TWin& Source() { return *SourceSurface; }
    // The output, completed first: a slider step draws only what the screens
    // show, and every reader of the output gets the whole render.
    tavrin::TWin& Output();
    // A slider step: the output becomes the render of Positions, drawn and
    // painted at once where a screen shows the window, elsewhere when it
    // comes into view or is read.
    void ShowPositions(const tavrin::SliderPositions& Positions);
    // After the output was drawn over (an export): shows again what it
    // showed, the picture as loaded while no step has come since the load,
    // else the render of Positions.
    void ShowAgain(const tavrin::SliderPositions& Positions);
    // The zoom, 1 at actual size: the window shows the output zoomed to
    // ViewSize(width, height, Zoom) device pixels.
    double Zoom() const { return ZoomFactor; }
    // Zooms to NewZoom and sizes the window to the zoomed output. With an
    // Anchor (window coordinates), the output point under it stays in place.
    void SetZoom(double NewZoom, std::optional<QPoint> Anchor = {});
    // Before the first picture opens: at Zoom, or at Fit on Screen without one.
    void StartZoomed(std::optional<double> Zoom);
    // Once the start's zoom is settled: the file named at the start, if a
    // plain JPEG, is decoded on a worker thread while the other windows are
    // made, as its first show will need it (a first view at Fit on Screen).
    void StartOpening();
    // Whether the view shows exactly what the zoom defines; below 100 % it
    // may show the live view for a moment after a slider step.
    bool ViewExact() const { return ZoomFactor >= 1 || ExactRows == View.Height(); }
    const QString& CurrentFile() const { return FileName; }
    // The picture has been saved under Name, which it now goes by.
    void SetCurrentFile(const QString& Name);
    // True while the picture is one pasted from the clipboard, with no file.
    bool IsPasted() const { return Pasted; }
    bool SoundOn() const { return SoundSwitch; }

    // Runs after each show: opens the current file, or asks for one while
    // nothing is open; giving up before anything is open ends the program.
    void FormShow();
    // File > Open: asks for a file and opens it; a cancelled dialog or a file
    // that fails to load leaves everything as it was.
    void OpenFromDialog(QWidget* DialogParent);
    // Loads Name into both surfaces and shows it. On failure the error is
    // shown, false returned, and the surfaces and window stay as they were.
    bool OpenFile(const QString& Name);
    // Opens the picture on the clipboard as Open opens a file, named
    // PastedImageName. False when the clipboard holds no picture.
    bool PasteImage();
    // Saves the output surface on a worker thread, the windows answering
    // meanwhile, with a progress dialog once it takes a while. A failure is
    // shown and false returned; a cancelled save returns false and leaves
    // the old file.
    bool SaveOutput(const QString& Name);
    // Puts the whole output on the clipboard as a picture.
    void CopyImage1Click();

    void Help1Click();
    void About1Click();
    void BeSilent1Click();
    void NoSounds1Click();
    void ZoomIn1Click();
    void ZoomOut1Click();
    // The largest zoom of at most 100 % that shows the whole output on the
    // canvas's screen; kept for pictures opened later.
    void FitOnScreen1Click();
    void ActualPixels1Click();
    // Plays sound N (0 to 7) unless the sounds are off; 7 waits for its end.
    void Beeper(unsigned N);
    // Frees the surfaces, then plays the closing sound to its end. Runs
    // once: at the latest when the window is destroyed, or earlier, while
    // the other windows are still there for the events that the closing
    // sound's wait delivers.
    void FormDestroy();

    QMenu* PopupMenu1;
    TMenuItem* Help1;
    TMenuItem* About1;
    TMenuItem* BeSilent1;
    TMenuItem* NoSounds1;
    TMenuItem* CopyImage1;
    // The View items, in the popup after its own and in the control panel's
    // View menu; ZoomShown1 is the disabled item that shows the zoom.
    QAction* ZoomIn1;
    QAction* ZoomOut1;
    QAction* FitOnScreen1;
    QAction* ActualPixels1;
    QAction* ZoomShown1;
    // Copies PopupMenu1's items to the top of the window menu.
    TOrvelSystemMenu* OrvelSystemMenu1;
    const TFileDialog OpenDialog1{"Please Choose a Bitmap to Load and Edit", OpenImageFilter(),
                                  {}};
    const TFileDialog SaveDialog1{"Save New Bitmap", SaveImageFilter(), "bmp"};

protected:
    void showEvent(QShowEvent* Event) override;
    void paintEvent(QPaintEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    void contextMenuEvent(QContextMenuEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    void wheelEvent(QWheelEvent* Event) override;

private:
    void FormCreate(const QString& CommandLineFile);
    // Draws the output's pixels inside Area (device pixels).
    void FormPaint(QPainter& Canvas, const QRegion& Area);
    // The part of the window that some screen shows, in its own coordinates.
    QRegion VisiblePart() const;
    // Paints at once what shows of the parts painted before the last step.
    void PaintStaleVisible();
    void CreatePopupMenu();
    void CreateViewItems();
    // Zoomed above 100 %: each output pixel a block, drawn inside Area.
    void PaintBlocks(QPainter& Canvas, const QRegion& Area);
    // The size of the zoomed output, in device pixels.
    tavrin::TViewSize ShownSize() const;
    double FitZoomHere() const;
    void ResizeToView();
    // The window's size for a view of View pixels.
    QSize WindowSize(tavrin::TViewSize View) const;
    // Below 100 %: the source downscaled to the view's size, then the view.
    void PrepareView();
    // Below 100 %: the view after a slider step, rendered from the reduced
    // source with the geometry scaled; the exact view follows at rest.
    void ShowLiveView();
    // A slice of the exact view, a band of rows at a time for a few
    // milliseconds, so that events are served between slices.
    void RefineView();
    void ShowZoom();
    // Keeps the zoom the user chose for the next start.
    void RememberZoom();
    // Opens the current file, or asks for one while nothing is open.
    void OpenOrAsk();
    // A first view of a large JPEG before the whole picture is read: at Fit
    // on Screen from a reduced decode, at actual size its top rows; false
    // when there is none.
    bool ShowPreview(const QString& Name);
    // The available geometry of the window's screen, in device pixels.
    tavrin::TViewSize ScreenPixels() const;
    void OpenAfterPreview();
    void LetDecodeGoOn();
    // Below 100 %: the view, drawn inside Area.
    void PaintView(QPainter& Canvas, const QRegion& Area);
    // Loads what Read returns into both surfaces; on failure the error is
    // shown, false returned, and the surfaces stay as they were.
    bool LoadImage(const std::function<tavrin::TWin()>& Read);
    // Runs Work on a worker thread while the event loop runs, and returns what
    // it returns or throws what it throws; Cancel in the progress dialog
    // sets Progress.Cancel.
    bool WhileWaiting(const QString& What,
                      const std::function<bool(tavrin::TWriteProgress&)>& Work);
    // True while a save runs or a modal dialog waits: no picture may open.
    bool Waiting() const;
    void ShowImage();

    TSoundPlayer& Sounds;
    QString FileName;
    bool Saving = false;
    bool SoundSwitch = false;
    bool HasImage = false;
    bool Pasted = false;
    // No slider step since the picture was loaded: the output is the picture.
    bool AsLoaded = false;
    std::unique_ptr<tavrin::TWin> SourceSurface;
    std::unique_ptr<tavrin::TWin> OutputSurface;
    // Which tiles of the output hold the render of the current positions.
    tavrin::TLazyOutput Rendered;
    // Parts of the window whose painted pixels predate the last step.
    QRegion Stale;
    QPointer<QWidget> AboutWindow;
    QPointer<QWidget> HelpWindow;
    QPointer<QWidget> ControlPanel;
    double ZoomFactor = 1;
    bool FitMode = false;
    // The settings the output renders; none while it is the picture as loaded.
    std::optional<tavrin::SliderPositions> ShownPositions;
    // Below 100 %: what the window shows, and the source at its size.
    tavrin::TWin View;
    tavrin::TWin ReducedSource;
    // Rows of View, from the top, that hold the exact view.
    std::int32_t ExactRows = 0;
    QTimer RefineTimer;
    // A first view that waits to be painted: the whole picture's size in
    // view pixels, and the window's.
    struct TFirstView {
        tavrin::TViewSize Pixels;
        QSize Window;
    };
    std::optional<TFirstView> FirstView;
    // What StartOpening began for the file FileName named then.
    QString AheadName;
    std::future<std::optional<tavrin::TPreview>> PreviewAhead;
    std::future<std::optional<tavrin::TWin>> PictureAhead;
    // Tells that decode to go on after a first view.
    std::optional<std::promise<void>> DecodeGate;
    // Wheel turns not yet spent on a zoom step (touchpads send small ones).
    int WheelRest = 0;
    // Where the mouse holds the window while it is moved by hand.
    std::optional<QPoint> DragOffset;
};
