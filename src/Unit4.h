// The control panel: eight sliders that drive the render, Reset and the
// memory bank, and the main menu with the file and sound commands.
#pragma once

#include <QMainWindow>

#include <array>
#include <cstdint>
#include <memory>

#include "History.h"
#include "Render.h"
#include "SweepExport.h"

namespace Ui {
class TForm4;
}
class QScrollBar;
class TForm1;

// A name beside File, in the same folder, that no file has yet:
// photo.jpg gives photo-tavrin.png, then photo-tavrin-2.png and so on.
QString UnusedNameBeside(const QString& File);

class TForm4 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm4(TForm1& Canvas, QWidget* Parent = nullptr);
    ~TForm4() override;

    // The sliders in render order, ScrollBar1 to ScrollBar8.
    const std::array<QScrollBar*, tavrin::SliderCount>& ScrollBars() const { return Sliders; }
    tavrin::SliderPositions Positions() const;
    const std::array<int, tavrin::SliderCount>& MemoryBank() const { return Memory; }

    // Runs on every slider change: renders the source into the output and
    // repaints the canvas at once, both where a screen shows it.
    void ScrollBar1Change();
    void Button1Click();
    void Button2Click();
    void File1Click();
    void Open1Click();
    // The Open Recent menu opens: the recent files, newest first, those
    // that are gone shown disabled, then Clear List.
    void OpenRecent1Click();
    // Opens File from Open Recent; a file that has gone since leaves the list.
    void OpenRecent(const QString& File);
    void Save1Click();
    void SaveAs1Click();
    // Asks for a sweep and exports it.
    void ExportAnimation1Click();
    // Exports the sweep, the canvas showing each frame as it is made, with
    // a progress dialog that cancels; afterwards the canvas shows the
    // sliders' render again. True when the file was written.
    bool ExportAnimation(const tavrin::TSweepExport& Settings, const QString& FileName);
    void BeSilent1Click();
    void MakeNoise1Click();
    void Exit1Click();
    // The settings as tavrin-render's options, to the clipboard and back.
    void CopySettings1Click();
    void PasteSettings1Click();
    // Opens the picture on the clipboard; without one, settings text on it
    // pastes as settings, and any other text or nothing changes nothing.
    void PasteImage1Click();
    // Random slider positions, in one step and one render.
    void SurpriseMe1Click();
    // A step of the settings back or forward: all eight sliders and the
    // memory bank at once, in one render.
    void Undo1Click();
    void Redo1Click();
    void Help1Click();
    void About1Click();
    void Min1Click();

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    std::uint64_t ExportBytes(const tavrin::TWin& Source, const tavrin::TSweepExport& Settings,
                              const std::string& Name);
    void FormClose();
    // Sets all eight sliders and then renders once, if anything changed.
    void SetPositions(const tavrin::SliderPositions& Positions);
    // Sets the sliders to pasted settings, as one step.
    void PasteSettings(const tavrin::SliderPositions& Positions);
    // Asks for a name, starting at Initial, and saves there.
    void SaveAs(const QString& Initial);
    TSettings Settings() const;
    void SetSettings(const TSettings& Settings);
    // A slider has moved: by the user, a step of the history or part of one.
    void SliderMoved(int Index);
    // The settings as they are now end a step of the history.
    void RecordStep();
    void ShowHistory();

    std::unique_ptr<Ui::TForm4> ui;
    TForm1& Canvas;
    std::array<QScrollBar*, tavrin::SliderCount> Sliders;
    std::array<int, tavrin::SliderCount> Memory{};
    bool Placed = false;
    THistory History;
    // Set while a command moves the sliders, which is one step of its own.
    bool CommandMovesSliders = false;
    // Surprise Me's own seed: the render's noise keeps its sequence.
    std::uint32_t SurpriseSeed;
};
