// The arrow line control: its pixels against hand-worked and independently
// rasterised pictures, its setters' repaint rule, and a form's load order.
#include <QPainter>
#include <QPushButton>
#include <QtTest>

#include <cmath>
#include <limits>

#include "AppTestSupport.h"
#include "line.h"
#include "ui_line_form.h"

namespace {

const QColor Background(255, 255, 255);
const QColor Pen(255, 0, 0);
const QColor Fill(0, 0, 255);

// Counts the repaint requests instead of only scheduling them.
class TCountingLine : public TLine {
public:
    using TLine::TLine;
    int Requests = 0;

protected:
    void RequestRepaint() override
    {
        ++Requests;
        TLine::RequestRepaint();
    }
};

QImage Blank(QSize Size)
{
    QImage Image(Size, QImage::Format_RGB32);
    Image.fill(Background);
    return Image;
}

QImage Rendered(TLine& Line)
{
    QImage Image = Blank(Line.size());
    Line.render(&Image, QPoint(), QRegion(), QWidget::DrawChildren);
    return Image;
}

// Reference rasteriser, by a different road than the control's integer one:
// the exact line position in each column (row, when steep), rounded to the
// nearest pixel in floating point, an exact half going up (left).
void ReferenceLine(QImage& Image, QPoint A, QPoint B, const QColor& Color)
{
    const int Dx = B.x() - A.x(), Dy = B.y() - A.y();
    const bool Steep = std::abs(Dy) > std::abs(Dx);
    const int Length = std::max(std::abs(Dx), std::abs(Dy));
    for (int i = 0; i < Length; ++i) {
        // One division of exact integers: a half comes out exactly.
        const double Exact = Steep ? A.x() + double(i * Dx) / Length : A.y() + double(i * Dy) / Length;
        const double Near = Exact - std::floor(Exact) == 0.5 ? std::floor(Exact) : std::floor(Exact + 0.5);
        const int Major = (Steep ? A.y() : A.x()) + (Steep ? (Dy > 0 ? i : -i) : (Dx > 0 ? i : -i));
        const QPoint P = Steep ? QPoint(int(Near), Major) : QPoint(Major, int(Near));
        if (Image.rect().contains(P))
            Image.setPixelColor(P, Color);
    }
}

// A head: every pixel whose centre lies strictly inside gets the fill, then
// the three edges are drawn over it.
void ReferenceHead(QImage& Image, QPoint Tip, QPoint P1, QPoint P2)
{
    const auto Cross = [](QPoint O, QPoint A, QPoint B) {
        return qint64(A.x() - O.x()) * (B.y() - O.y()) - qint64(A.y() - O.y()) * (B.x() - O.x());
    };
    for (int y = 0; y < Image.height(); ++y)
        for (int x = 0; x < Image.width(); ++x) {
            const QPoint P(x, y);
            const qint64 C1 = Cross(Tip, P1, P), C2 = Cross(P1, P2, P), C3 = Cross(P2, Tip, P);
            if ((C1 > 0 && C2 > 0 && C3 > 0) || (C1 < 0 && C2 < 0 && C3 < 0))
                Image.setPixelColor(P, Fill);
        }
    ReferenceLine(Image, Tip, P1, Pen);
    ReferenceLine(Image, P1, P2, Pen);
    ReferenceLine(Image, P2, Tip, Pen);
}

// Lists the first differing pixels, so that a failure says where.
QString Differences(const QImage& Actual, const QImage& Expected)
{
    QStringList Lines;
    for (int y = 0; y < Expected.height(); ++y)
        for (int x = 0; x < Expected.width(); ++x)
            if (Actual.pixel(x, y) != Expected.pixel(x, y) && Lines.size() < 12)
                Lines << QString("(%1,%2) is %3, expected %4")
                             .arg(x).arg(y)
                             .arg(QColor(Actual.pixel(x, y)).name(), QColor(Expected.pixel(x, y)).name());
    return Lines.join("; ");
}

QList<QPoint> PixelsOf(const QImage& Image, const QColor& Color)
{
    QList<QPoint> Points;
    for (int y = 0; y < Image.height(); ++y)
        for (int x = 0; x < Image.width(); ++x)
            if (Image.pixelColor(x, y) == Color)
                Points << QPoint(x, y);
    return Points;
}

void SetUp(TLine& Line, TLineDirection Direction, QSize Size, int ArrowFactor, bool Arrow1, bool Arrow2)
{
    Line.setDirection(Direction);
    Line.resize(Size);
    Line.setLineColor(Pen);
    Line.setArrowColor(Fill);
    Line.setArrowFactor(ArrowFactor);
    Line.setArrow1(Arrow1);
    Line.setArrow2(Arrow2);
}

using TTriangle = std::array<QPoint, 3>;

} // namespace

Q_DECLARE_METATYPE(TLineDirection)
Q_DECLARE_METATYPE(TTriangle)

class TLineTest : public QObject {
    Q_OBJECT
private slots:
    void NewControlDrawsRowOne();
    void StraightLines_data();
    void StraightLines();
    void DiagonalLinePixels();
    void DiagonalHeadVertices_data();
    void DiagonalHeadVertices();
    void HeadsAgainstReference_data();
    void HeadsAgainstReference();
    void FirstHeadByHand();
    void BigHeadsAreClipped();
    void DegenerateControls();
    void UnknownDirectionDrawsNothing();
    void ExtremeValuesStaySound();
    void EqualWritesRequestNoRepaint();
    void ChangesRequestARepaint();
    void LineWidthAndHeads();
    void FormAppliesPropertiesInOrder();
    void ClicksPassThrough();
};

void TLineTest::NewControlDrawsRowOne()
{
    TLine Line;
    QCOMPARE(Line.size(), QSize(65, 4));
    QCOMPARE(Line.Direction(), TLine::drLeftRight);
    QVERIFY(!Line.Arrow1() && !Line.Arrow2());
    QCOMPARE(Line.ArrowFactor(), 3);
    QCOMPARE(Line.LineWidth(), 1);
    QCOMPARE(Line.LineColor(), QColor(Qt::black));
    QCOMPARE(Line.ArrowColor(), QColor(Qt::black));

    QImage Expected = Blank(QSize(65, 4));
    for (int x = 0; x <= 64; ++x)
        Expected.setPixelColor(x, 1, Qt::black); // y0 = (4 - 1) div 2
    const QImage Actual = Rendered(Line);
    QVERIFY2(Actual == Expected, qPrintable(Differences(Actual, Expected)));
}

void TLineTest::StraightLines_data()
{
    QTest::addColumn<TLineDirection>("Direction");
    QTest::addColumn<QSize>("Size");
    QTest::addColumn<QPoint>("First");
    QTest::addColumn<QPoint>("LastDrawn");
    QTest::newRow("185 x 41 across, row 20") << TLine::drLeftRight << QSize(185, 41) << QPoint(0, 20) << QPoint(184, 20);
    QTest::newRow("77 x 105 down, column 38") << TLine::drUpDown << QSize(77, 105) << QPoint(38, 0) << QPoint(38, 104);
    QTest::newRow("13 x 2 across, row 0") << TLine::drLeftRight << QSize(13, 2) << QPoint(0, 0) << QPoint(12, 0);
    QTest::newRow("1 x 17 down, column 0") << TLine::drUpDown << QSize(1, 17) << QPoint(0, 0) << QPoint(0, 16);
}

void TLineTest::StraightLines()
{
    QFETCH(TLineDirection, Direction);
    QFETCH(QSize, Size);
    QFETCH(QPoint, First);
    QFETCH(QPoint, LastDrawn);
    TLine Line;
    Line.setDirection(Direction);
    Line.resize(Size);
    QImage Expected = Blank(Size);
    for (int y = First.y(); y <= LastDrawn.y(); ++y)
        for (int x = First.x(); x <= LastDrawn.x(); ++x)
            Expected.setPixelColor(x, y, Qt::black);
    const QImage Actual = Rendered(Line);
    QVERIFY2(Actual == Expected, qPrintable(Differences(Actual, Expected)));
}

// Worked by hand on an 8 x 3 control, where the line crosses a half-pixel.
void TLineTest::DiagonalLinePixels()
{
    TLine Line;
    Line.setDirection(TLine::drTopLeftBottomRight);
    Line.resize(8, 3);
    // y = 3x/8 at x = 0..7: 0, .375, .75, 1.125, 1.5 (tie: up, to 1), 1.875,
    // 2.25, 2.625 (row 3: outside).
    QCOMPARE(PixelsOf(Rendered(Line), Qt::black),
             (QList<QPoint>{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}, {6, 2}}));

    // From (8, 0), outside, to (0, 3): at x = 7..1, y = .375, .75, 1.125,
    // 1.5 (up, to 1), 1.875, 2.25, 2.625 (outside). Listed row by row.
    Line.setDirection(TLine::drTopRightBottomLeft);
    QCOMPARE(PixelsOf(Rendered(Line), Qt::black),
             (QList<QPoint>{{7, 0}, {4, 1}, {5, 1}, {6, 1}, {2, 2}, {3, 2}}));

    // Steep, 3 x 8: x = 3y/8, the tie at y = 4 going left, to 1.
    Line.setDirection(TLine::drTopLeftBottomRight);
    Line.resize(3, 8);
    QCOMPARE(PixelsOf(Rendered(Line), Qt::black),
             (QList<QPoint>{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}, {2, 5}, {2, 6}}));
}

// The columns of the head tables and the two 40 x 40 heads worked by hand.
static void AddWorkedHeads()
{
    QTest::addColumn<TLineDirection>("Direction");
    QTest::addColumn<QSize>("Size");
    QTest::addColumn<int>("ArrowFactor");
    QTest::addColumn<TTriangle>("First");
    QTest::addColumn<TTriangle>("Second");
    QTest::newRow("40 x 40 down-right") << TLine::drTopLeftBottomRight << QSize(40, 40) << 3
        << TTriangle{{{0, 0}, {5, 1}, {1, 5}}} << TTriangle{{{39, 39}, {38, 34}, {34, 38}}};
    QTest::newRow("40 x 40 down-left") << TLine::drTopRightBottomLeft << QSize(40, 40) << 3
        << TTriangle{{{39, 0}, {34, 1}, {38, 5}}} << TTriangle{{{0, 39}, {1, 34}, {5, 38}}};
}

void TLineTest::DiagonalHeadVertices_data()
{
    AddWorkedHeads();
    QTest::newRow("100 x 50, B clamped to 0") << TLine::drTopLeftBottomRight << QSize(100, 50) << 5
        << TTriangle{{{0, 0}, {7, 0}, {3, 7}}} << TTriangle{{{99, 49}, {96, 42}, {92, 49}}};
    // Height 0: dx = 4, dy = 0, A = 4, B = -3 (0), C = 4, D = 3.
    QTest::newRow("height 0") << TLine::drTopLeftBottomRight << QSize(30, 0) << 3
        << TTriangle{{{0, 0}, {4, 0}, {4, 3}}} << TTriangle{{{29, -1}, {25, -4}, {25, -1}}};
}

void TLineTest::DiagonalHeadVertices()
{
    QFETCH(TLineDirection, Direction);
    QFETCH(QSize, Size);
    QFETCH(int, ArrowFactor);
    QFETCH(TTriangle, First);
    QFETCH(TTriangle, Second);
    const auto Heads = ArrowHeads(Direction, Size, 1, ArrowFactor);
    QCOMPARE(Heads[0], QPolygon({First[0], First[1], First[2]}));
    QCOMPARE(Heads[1], QPolygon({Second[0], Second[1], Second[2]}));
}

void TLineTest::HeadsAgainstReference_data()
{
    AddWorkedHeads();
    QTest::newRow("100 x 50 down-right") << TLine::drTopLeftBottomRight << QSize(100, 50) << 5
        << TTriangle{{{0, 0}, {7, 0}, {3, 7}}} << TTriangle{{{99, 49}, {96, 42}, {92, 49}}};
    // y0 = (23 - 1) div 2 = 11; heads 2 x 7 = 14 wide and 7 long.
    QTest::newRow("61 x 23 across") << TLine::drLeftRight << QSize(61, 23) << 7
        << TTriangle{{{0, 11}, {7, 4}, {7, 18}}} << TTriangle{{{60, 11}, {53, 4}, {53, 18}}};
    // x0 = (19 - 1) div 2 = 9.
    QTest::newRow("19 x 31 down") << TLine::drUpDown << QSize(19, 31) << 4
        << TTriangle{{{9, 0}, {5, 4}, {13, 4}}} << TTriangle{{{9, 30}, {5, 26}, {13, 26}}};
}

// The line first, then the first head and the second over it.
void TLineTest::HeadsAgainstReference()
{
    QFETCH(TLineDirection, Direction);
    QFETCH(QSize, Size);
    QFETCH(int, ArrowFactor);
    QFETCH(TTriangle, First);
    QFETCH(TTriangle, Second);
    TLine Line;
    SetUp(Line, Direction, Size, ArrowFactor, true, true);

    QImage Expected = Blank(Size);
    const int W = Size.width(), H = Size.height();
    switch (Direction) {
    case TLine::drLeftRight: ReferenceLine(Expected, {0, (H - 1) / 2}, {W, (H - 1) / 2}, Pen); break;
    case TLine::drUpDown: ReferenceLine(Expected, {(W - 1) / 2, 0}, {(W - 1) / 2, H}, Pen); break;
    case TLine::drTopLeftBottomRight: ReferenceLine(Expected, {0, 0}, {W, H}, Pen); break;
    case TLine::drTopRightBottomLeft: ReferenceLine(Expected, {W, 0}, {0, H}, Pen); break;
    }
    ReferenceHead(Expected, First[0], First[1], First[2]);
    ReferenceHead(Expected, Second[0], Second[1], Second[2]);
    const QImage Actual = Rendered(Line);
    QVERIFY2(Actual == Expected, qPrintable(Differences(Actual, Expected)));
}

// The head (0,0), (5,1), (1,5) of the 40 x 40 line, pixel by pixel:
// edges (0,0)-(5,1): y = x/5; (5,1)-(1,5): slope -1; (1,5)-(0,0): x = y/5.
void TLineTest::FirstHeadByHand()
{
    TLine Line;
    SetUp(Line, TLine::drTopLeftBottomRight, QSize(40, 40), 3, true, false);
    const QImage Image = Rendered(Line).copy(0, 0, 7, 7);
    QList<QPoint> Outline{{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 1}, {0, 1}, {0, 2}, {4, 2}, {3, 3},
                          {1, 3}, {1, 4}, {2, 4}, {1, 5}};
    QList<QPoint> Inside{{1, 1}, {2, 1}, {1, 2}, {2, 2}, {3, 2}, {2, 3}};
    // The diagonal line runs on under the head: (3,3) is outline, (4,4) on are line.
    Outline << QPoint(4, 4) << QPoint(5, 5) << QPoint(6, 6);
    const auto ByRow = [](QPoint A, QPoint B) { return std::pair(A.y(), A.x()) < std::pair(B.y(), B.x()); };
    std::sort(Outline.begin(), Outline.end(), ByRow);
    QCOMPARE(PixelsOf(Image, Pen), Outline);
    QCOMPARE(PixelsOf(Image, Fill), Inside);
}

// ArrowFactor 30 on a 65 x 4 control: tip (0,1), base at x = 30 from y = -29
// to 31; the clip keeps only what falls inside the 4 rows.
void TLineTest::BigHeadsAreClipped()
{
    TLine Line;
    SetUp(Line, TLine::drLeftRight, QSize(65, 4), 30, true, true);
    QImage Expected = Blank(QSize(65, 4));
    ReferenceLine(Expected, {0, 1}, {65, 1}, Pen);
    ReferenceHead(Expected, {0, 1}, {30, -29}, {30, 31});
    ReferenceHead(Expected, {64, 1}, {34, -29}, {34, 31});
    const QImage Actual = Rendered(Line);
    QVERIFY2(Actual == Expected, qPrintable(Differences(Actual, Expected)));
    // By hand: the edges leave the rows at once; column 30 is the first base.
    QCOMPARE(Actual.pixelColor(0, 1), Pen);
    QCOMPARE(Actual.pixelColor(1, 0), Pen);
    QCOMPARE(Actual.pixelColor(2, 3), Pen);
    QCOMPARE(Actual.pixelColor(3, 0), Fill);
    QCOMPARE(Actual.pixelColor(30, 2), Pen);
}

void TLineTest::DegenerateControls()
{
    // Height 0 across: y0 = (0 - 1) div 2 = 0, so the heads' tips sit on row 0.
    const auto Flat = ArrowHeads(TLine::drLeftRight, QSize(65, 0), 1, 3);
    QCOMPARE(Flat[0].first(), QPoint(0, 0));
    QCOMPARE(Flat[1].first(), QPoint(64, 0));
    // Width 0 on a diagonal: no heads at all, whatever is switched on.
    for (TLineDirection Direction : {TLine::drTopLeftBottomRight, TLine::drTopRightBottomLeft}) {
        const auto None = ArrowHeads(Direction, QSize(0, 30), 1, 3);
        QVERIFY(None[0].isEmpty() && None[1].isEmpty());
    }
    // A width-0 diagonal inside a larger picture leaves the picture alone.
    TLine Line;
    SetUp(Line, TLine::drTopLeftBottomRight, QSize(0, 30), 3, true, true);
    QImage Image = Blank(QSize(9, 30));
    QPainter Painter(&Image);
    Line.Paint(Painter);
    Painter.end();
    QCOMPARE(Image, Blank(QSize(9, 30)));
}

void TLineTest::UnknownDirectionDrawsNothing()
{
    TLine Line;
    SetUp(Line, static_cast<TLineDirection>(7), QSize(41, 23), 3, true, true);
    QCOMPARE(Rendered(Line), Blank(QSize(41, 23)));
}

// Any integer is a valid ArrowFactor or LineWidth: painting must neither
// overflow nor walk the whole plane.
void TLineTest::ExtremeValuesStaySound()
{
    TLine Line;
    SetUp(Line, TLine::drLeftRight, QSize(65, 4), std::numeric_limits<int>::max(), true, true);
    QImage Image = Rendered(Line);
    // Both heads spread at 45 degrees from their tips over the whole control.
    QCOMPARE(Image.pixelColor(32, 0), Fill);
    QCOMPARE(Image.pixelColor(32, 3), Fill);
    QCOMPARE(Image.pixelColor(63, 0), Pen); // the second head's upper edge

    // Heads turned outward lie outside the control: only the line shows.
    Line.setArrowFactor(std::numeric_limits<int>::min());
    QImage LineOnly = Blank(QSize(65, 4));
    ReferenceLine(LineOnly, {0, 1}, {65, 1}, Pen);
    QCOMPARE(Rendered(Line), LineOnly);

    // On a 65 x 4 diagonal, by hand: dx and dy are large and negative, so
    // A, C and D come out negative (0) and B large: each head folds into a
    // line along its edge column, 0 and 64.
    Line.setDirection(TLine::drTopLeftBottomRight);
    QImage Folded = Blank(QSize(65, 4));
    ReferenceLine(Folded, {0, 0}, {65, 4}, Pen);
    for (int y = 0; y < 4; ++y) {
        Folded.setPixelColor(0, y, Pen);
        Folded.setPixelColor(64, y, Pen);
    }
    const QImage Actual = Rendered(Line);
    QVERIFY2(Actual == Folded, qPrintable(Differences(Actual, Folded)));
    // Without heads a huge pen puts the line far above the control.
    Line.setArrow1(false);
    Line.setArrow2(false);
    Line.setDirection(TLine::drLeftRight);
    Line.setLineWidth(std::numeric_limits<int>::max());
    QCOMPARE(Rendered(Line).pixelColor(32, 3), Background);
}

void TLineTest::EqualWritesRequestNoRepaint()
{
    TCountingLine Line;
    Line.setDirection(TLine::drLeftRight);
    Line.setLineColor(Qt::black);
    Line.setArrowColor(Qt::black);
    Line.setLineWidth(1);
    Line.setArrow1(false);
    Line.setArrow2(false);
    Line.setArrowFactor(3);
    QCOMPARE(Line.Requests, 0);
}

void TLineTest::ChangesRequestARepaint()
{
    TCountingLine Line;
    const auto Requested = [&Line](auto Change) {
        const int Before = Line.Requests;
        Change();
        return Line.Requests - Before;
    };
    QCOMPARE(Requested([&] { Line.setDirection(TLine::drUpDown); }), 1);
    QCOMPARE(Requested([&] { Line.setLineColor(QColor(1, 2, 3)); }), 1);
    QCOMPARE(Requested([&] { Line.setArrowColor(QColor(4, 5, 6)); }), 1);
    QCOMPARE(Requested([&] { Line.setArrowFactor(0); }), 1);
    QCOMPARE(Requested([&] { Line.setArrowFactor(-7); }), 1);
    QCOMPARE(Line.ArrowFactor(), -7);
    QCOMPARE(Requested([&] { Line.setArrow2(true); }), 1); // width already 1
    QCOMPARE(Line.LineColor(), QColor(1, 2, 3));
    QCOMPARE(Line.ArrowColor(), QColor(4, 5, 6));
}

void TLineTest::LineWidthAndHeads()
{
    TCountingLine Line;
    Line.setLineWidth(3);
    QCOMPARE(Line.LineWidth(), 3);

    // Without a head a negative width is dropped, yet still repaints.
    int Before = Line.Requests;
    Line.setLineWidth(-2);
    QCOMPARE(Line.LineWidth(), 3);
    QCOMPARE(Line.Requests - Before, 1);

    // A head forces width 1 and repaints; switching it off keeps 1.
    Before = Line.Requests;
    Line.setArrow1(true);
    QCOMPARE(Line.LineWidth(), 1);
    QVERIFY(Line.Requests > Before);
    Before = Line.Requests;
    Line.setArrow1(false);
    QCOMPARE(Line.LineWidth(), 1);
    QCOMPARE(Line.Requests - Before, 1);

    // With a head on, 5 stays 1 but repaints; 1 itself does nothing.
    Line.setArrow2(true);
    Before = Line.Requests;
    Line.setLineWidth(5);
    QCOMPARE(Line.LineWidth(), 1);
    QCOMPARE(Line.Requests - Before, 1);
    Before = Line.Requests;
    Line.setLineWidth(1);
    QCOMPARE(Line.Requests - Before, 0);
}

// The form stores LineWidth 3 before Arrow2: the head wins.
void TLineTest::FormAppliesPropertiesInOrder()
{
    QWidget Form;
    Ui::LineForm Ui;
    Ui.setupUi(&Form);
    QCOMPARE(Ui.Headed->Direction(), TLine::drUpDown);
    QCOMPARE(Ui.Headed->LineWidth(), 1);
    QVERIFY(Ui.Headed->Arrow2());
    QVERIFY(!Ui.Headed->Arrow1());
    QCOMPARE(Ui.Headed->ArrowFactor(), 5);
    QCOMPARE(Ui.Headed->LineColor(), QColor(0, 128, 0));
    QCOMPARE(Ui.Headed->ArrowColor(), QColor(0, 0, 255));
    QCOMPARE(Ui.Plain->LineWidth(), 3);
    QCOMPARE(Ui.Plain->Direction(), TLine::drLeftRight);
}

void TLineTest::ClicksPassThrough()
{
    QWidget Parent;
    Parent.resize(120, 60);
    QPushButton Button("Under", &Parent);
    Button.setGeometry(0, 0, 120, 60);
    TLine Line(&Parent);
    Line.setGeometry(10, 20, 100, 21);
    QCOMPARE(Parent.childAt(60, 30), &Button);
}

TAVRIN_TEST_MAIN(TLineTest)
#include "line_test.moc"
