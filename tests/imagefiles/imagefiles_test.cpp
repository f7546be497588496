// The image front end: every PNG layout against the samples written with
// libpng, round trips of the lossless formats, the conversion rules, header
// bombs under an address-space limit, and the writer's choices.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QBuffer>
#include <QtEndian>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>

#include "../surface/TestImages.h"
#include "Downscale.h"
#include "ImageFiles.h"
#include "PngWriter.h"

#include <libheif/heif.h>
#include "BitmapFile.h"
#include "Decoders.h"

namespace tavrin {
namespace {

using test::PixelAt;
using test::SamePixels;

std::vector<std::uint8_t> EncodeBitmapOf(const TWin& Picture)
{
    return EncodeBitmap(Picture);
}

QByteArray Bytes(const std::vector<std::uint8_t>& Data)
{
    return QByteArray(reinterpret_cast<const char*>(Data.data()), qsizetype(Data.size()));
}

std::string ErrorOf(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const SurfaceError& error) {
        return error.what();
    }
    return "(no error)";
}

// 0xRRGGBB of one colour at full scale Max over black: round(c x a / Max^2 x 255).
std::uint32_t OverBlack(const std::uint32_t (&Rgb)[3], std::uint32_t Alpha, std::uint32_t Max)
{
    std::uint32_t pixel = 0;
    for (const std::uint32_t c : Rgb)
        pixel = pixel << 8 |
                std::uint32_t(std::lround(double(c) * Alpha / (double(Max) * Max) * 255.0));
    return pixel;
}

// What the front end must show for pixel I of a fixture written with libpng.
std::uint32_t Expected(const test::TPngPicture& P, std::size_t I)
{
    const int channels = test::Channels(P.ColourType);
    const std::uint16_t* s = &P.Samples[I * channels];
    const std::uint32_t max = (1u << P.Depth) - 1;
    switch (P.ColourType) {
    case PNG_COLOR_TYPE_PALETTE: {
        const png_color c = P.Palette[s[0]];
        const std::uint32_t alpha = s[0] < P.PaletteAlpha.size() ? P.PaletteAlpha[s[0]] : 255;
        return OverBlack({c.red, c.green, c.blue}, alpha, 255);
    }
    case PNG_COLOR_TYPE_GRAY: {
        const bool keyed = !P.Key.empty() && s[0] == P.Key[0];
        return OverBlack({s[0], s[0], s[0]}, keyed ? 0 : max, max);
    }
    case PNG_COLOR_TYPE_RGB: {
        const bool keyed =
            !P.Key.empty() && s[0] == P.Key[0] && s[1] == P.Key[1] && s[2] == P.Key[2];
        return OverBlack({s[0], s[1], s[2]}, keyed ? 0 : max, max);
    }
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return OverBlack({s[0], s[0], s[0]}, s[1], max);
    default:
        return OverBlack({s[0], s[1], s[2]}, s[3], max);
    }
}

// A 13 x 7 picture of random samples; with transparency, a third of the
// pixels take the colour key, and palette entries get every kind of alpha.
test::TPngPicture RandomPng(int ColourType, int Depth, bool Transparent, std::uint32_t Seed)
{
    std::mt19937 random(Seed);
    test::TPngPicture p{13, 7, ColourType, Depth, {}, {}, {}, {}};
    const int channels = test::Channels(ColourType);
    const std::uint32_t max = (1u << Depth) - 1;
    p.Samples.resize(std::size_t(p.Width) * p.Height * channels);
    for (std::uint16_t& sample : p.Samples)
        sample = std::uint16_t(random() & max);
    if (ColourType == PNG_COLOR_TYPE_PALETTE) {
        for (std::uint32_t i = 0; i <= max; ++i)
            p.Palette.push_back(
                {std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random())});
        if (Transparent) // shorter than the palette: the last entries stay opaque
            for (std::uint32_t i = 0; i < std::max(1u, max); ++i)
                p.PaletteAlpha.push_back(i % 3 == 0   ? 0
                                         : i % 3 == 1 ? 128
                                                      : std::uint8_t(random()));
    } else if (Transparent &&
               (ColourType == PNG_COLOR_TYPE_GRAY || ColourType == PNG_COLOR_TYPE_RGB)) {
        p.Key.assign(p.Samples.begin(), p.Samples.begin() + channels);
        for (std::size_t i = 0; i < p.Samples.size() / channels; i += 3)
            std::copy(p.Key.begin(), p.Key.end(), p.Samples.begin() + i * channels);
    }
    return p;
}

using PngLayout = std::tuple<int, int, bool>; // colour type, depth, transparency

class PngLayouts : public ::testing::TestWithParam<PngLayout> {};

TEST_P(PngLayouts, EveryPixelAsTheSamplesSay)
{
    const auto [type, depth, transparent] = GetParam();
    const test::TPngPicture png =
        RandomPng(type, depth, transparent, std::uint32_t(type * 100 + depth));
    const TWin image = DecodeImage(Bytes(test::WritePng(png)), QStringLiteral("layout.png"));
    ASSERT_EQ(image.Width(), png.Width);
    ASSERT_EQ(image.Height(), png.Height);
    int wrong = 0;
    for (int y = 0; y < png.Height; ++y)
        for (int x = 0; x < png.Width; ++x) {
            const std::uint32_t want = Expected(png, std::size_t(y) * png.Width + x);
            if (PixelAt(image, x, y) != want && ++wrong <= 3)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex
                              << PixelAt(image, x, y) << ", not " << want;
        }
    EXPECT_EQ(wrong, 0);
}

std::vector<PngLayout> AllPngLayouts()
{
    std::vector<PngLayout> layouts;
    const std::pair<int, std::vector<int>> depths[] = {{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}},
                                                       {PNG_COLOR_TYPE_RGB, {8, 16}},
                                                       {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
                                                       {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
                                                       {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}}};
    for (const auto& [type, list] : depths)
        for (const int depth : list)
            for (const bool transparent : {false, true})
                if (!transparent ||
                    (type != PNG_COLOR_TYPE_GRAY_ALPHA && type != PNG_COLOR_TYPE_RGB_ALPHA))
                    layouts.emplace_back(type, depth, transparent);
    return layouts;
}

std::string LayoutName(const ::testing::TestParamInfo<PngLayout>& Info)
{
    const auto [type, depth, transparent] = Info.param;
    return "Type" + std::to_string(type) + "Depth" + std::to_string(depth) +
           (transparent ? "Transparent" : "Opaque");
}

INSTANTIATE_TEST_SUITE_P(AllColourTypes, PngLayouts, ::testing::ValuesIn(AllPngLayouts()),
                         LayoutName);

// Files written by the front end and read back by it.
class FileTest : public ::testing::Test {
protected:
    QString Path(const QString& Name) const { return Dir.filePath(Name); }
    QByteArray Contents(const QString& Name) const
    {
        QFile file(Path(Name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void Put(const QString& Name, const QByteArray& Data) const
    {
        QFile file(Path(Name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Data);
    }
    QTemporaryDir Dir;
};

TEST_F(FileTest, LosslessFormatsGiveBackEveryPixel)
{
    const TWin picture = test::RandomPicture(13, 7, 5);
    for (const QString name : {"a.png", "b.WEBP", "c.tif", "d.TIFF", "e.bmp"}) {
        WriteImageFile(picture, Path(name));
        EXPECT_TRUE(SamePixels(ReadImageFile(Path(name)), picture)) << name.toStdString();
    }
    // The bitmap road is the engine's writer, byte for byte.
    const std::vector<std::uint8_t> bitmap = EncodeBitmapOf(picture);
    EXPECT_EQ(Contents("e.bmp"), Bytes(bitmap));
}

// Smooth ramps of different slopes per channel: what a lossy coder keeps well.
TWin Ramps(int Width, int Height)
{
    TWin picture(Width, Height);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) {
            std::uint8_t* p = picture.Row(y) + 3 * x;
            p[0] = std::uint8_t(x * 5);
            p[1] = std::uint8_t(y * 9 + 20);
            p[2] = std::uint8_t((x + y) * 3);
        }
    return picture;
}

TEST_F(FileTest, JpegIsCloseAndQualityCounts)
{
    const TWin picture = Ramps(41, 23);
    WriteImageFile(picture, Path("default.jpg"));
    WriteImageFile(picture, Path("low.JPEG"), 10);
    const TWin back = ReadImageFile(Path("default.jpg"));
    ASSERT_EQ(back.Width(), 41);
    ASSERT_EQ(back.Height(), 23);
    double error = 0;
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 3 * 41; ++x)
            error += std::abs(int(back.Row(y)[x]) - int(picture.Row(y)[x]));
    EXPECT_LT(error / (41 * 23 * 3), 2.0);
    EXPECT_LT(Contents("low.JPEG").size(), Contents("default.jpg").size());
    // A quality makes WebP lossy, and smaller.
    const TWin noise = test::RandomPicture(64, 48, 9);
    WriteImageFile(noise, Path("lossless.webp"));
    WriteImageFile(noise, Path("lossy.webp"), 50);
    EXPECT_TRUE(SamePixels(ReadImageFile(Path("lossless.webp")), noise));
    EXPECT_FALSE(SamePixels(ReadImageFile(Path("lossy.webp")), noise));
    EXPECT_LT(Contents("lossy.webp").size(), Contents("lossless.webp").size());
}

TEST_F(FileTest, JpegPreviewIsAReducedDecodeOfTheSamePicture)
{
    const auto Native = [this](const char* Name) { return QFile::encodeName(Path(Name)).toStdString(); };
    TWin picture(411, 233);
    for (int y = 0; y < 233; ++y)
        for (int x = 0; x < 411; ++x) {
            std::uint8_t* p = picture.Row(y) + 3 * x;
            p[0] = std::uint8_t(x * 255 / 411);
            p[1] = std::uint8_t(y * 255 / 233);
            p[2] = std::uint8_t(128 + (x - y) / 8);
        }
    WriteImageFile(picture, Path("photo.jpg"));
    const TWin whole = ReadImageFile(Path("photo.jpg"));
    // Asked for at least 100 x 50: a quarter (2/8) is the smallest that covers it.
    const std::optional<TPreview> preview = ReadJpegPreview(Native("photo.jpg"), 100, 50);
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->Width, 411);
    EXPECT_EQ(preview->Height, 233);
    ASSERT_EQ(preview->Reduced.Width(), 103);
    ASSERT_EQ(preview->Reduced.Height(), 59);
    TWin shrunk(103, 59);
    AreaDownscale(whole, shrunk);
    double error = 0;
    for (int y = 0; y < 59; ++y)
        for (int x = 0; x < 3 * 103; ++x)
            error += std::abs(int(preview->Reduced.Row(y)[x]) - int(shrunk.Row(y)[x]));
    EXPECT_LT(error / (103 * 59 * 3), 2.0);
    // Asked for more than the picture holds: the whole size, close to the whole decode.
    const std::optional<TPreview> full = ReadJpegPreview(Native("photo.jpg"), 500, 10);
    ASSERT_TRUE(full);
    ASSERT_EQ(full->Reduced.Width(), 411);
    ASSERT_EQ(full->Reduced.Height(), 233);
    error = 0;
    for (int y = 0; y < 233; ++y)
        for (int x = 0; x < 3 * 411; ++x)
            error += std::abs(int(full->Reduced.Row(y)[x]) - int(whole.Row(y)[x]));
    EXPECT_LT(error / (411 * 233 * 3), 2.0);
    // Nothing for what the whole decode would convert, or another format.
    WriteImageFile(picture, Path("photo.png"));
    EXPECT_FALSE(ReadJpegPreview(Native("photo.png"), 100, 50));
    EXPECT_FALSE(ReadJpegPreview(Native("missing.jpg"), 100, 50));
    // The head start on a worker thread reads exactly what the whole road reads.
    const std::optional<TWin> ahead = ReadPlainJpeg(Native("photo.jpg"));
    ASSERT_TRUE(ahead);
    EXPECT_EQ(std::vector(ahead->Bits, ahead->Bits + ahead->ByteCount()),
              std::vector(whole.Bits, whole.Bits + whole.ByteCount()));
    EXPECT_FALSE(ReadPlainJpeg(Native("photo.png")));
    // On the way, the rows a screen shows: the top-left of that same picture;
    // nothing on the way when they would be the whole picture.
    std::optional<TPreview> early;
    int handed = 0;
    const TEarlyPart part{100, 50, [&](TPreview Part) { early = std::move(Part), ++handed; }};
    const TEarlyPart wholeRows{500, 233, [&](TPreview) { ++handed; }};
    ASSERT_TRUE(ReadPlainJpeg(Native("photo.jpg"), &part));
    ASSERT_TRUE(ReadPlainJpeg(Native("photo.jpg"), &wholeRows));
    ASSERT_EQ(handed, 1);
    ASSERT_EQ(early->Reduced.Width(), 100);
    ASSERT_EQ(early->Reduced.Height(), 50);
    EXPECT_EQ(early->Width, 411);
    for (int y = 0; y < 50; ++y)
        EXPECT_EQ(std::memcmp(early->Reduced.Row(y), whole.Row(y), 300), 0) << "row " << y;
}

TEST_F(FileTest, ContentNotExtensionChoosesTheReader)
{
    const TWin picture = test::RandomPicture(5, 3, 2);
    WriteImageFile(picture, Path("real.png"));
    Put("named.jpg", Contents("real.png"));
    EXPECT_TRUE(SamePixels(ReadImageFile(Path("named.jpg")), picture));
    WriteImageFile(picture, Path("real.bmp"));
    Put("bitmap.png", Contents("real.bmp"));
    EXPECT_TRUE(SamePixels(ReadImageFile(Path("bitmap.png")), picture));
}

TEST_F(FileTest, UnknownExtensionsListTheWritableOnes)
{
    const TWin picture(3, 2);
    for (const QString name : {"x.gif", "x", "x.heic"}) {
        const std::string message = ErrorOf([&] { WriteImageFile(picture, Path(name)); });
        EXPECT_NE(message.find(Path(name).toStdString()), std::string::npos) << message;
        EXPECT_NE(message.find(".bmp, .png, .jpg, .jpeg, .webp, .tif, .tiff"), std::string::npos)
            << message;
        EXPECT_FALSE(QFile::exists(Path(name)));
    }
}

TEST_F(FileTest, FailedSaveLeavesTheOldFile)
{
    Put("kept.png", "old contents");
    QFile::setPermissions(Path("kept.png"), QFile::ReadOwner);
    const TWin picture = test::RandomPicture(4, 4, 1);
    if (::geteuid() != 0) { // root may write anything
        EXPECT_NE(ErrorOf([&] { WriteImageFile(picture, Path("kept.png")); }), "(no error)");
        EXPECT_EQ(Contents("kept.png"), "old contents");
    }
    EXPECT_NE(ErrorOf([&] { WriteImageFile(picture, Path("no/such/folder.png")); }), "(no error)");
    EXPECT_NE(ErrorOf([&] { WriteImageFile(TWin(), Path("empty.png")); }), "(no error)");
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.png"});
}

// Every format but the bitmap says 100 dpi, read back by Qt's own readers,
// so that the program and the renderer write the very same bytes.
TEST_F(FileTest, WrittenFilesSayOneHundredDpi)
{
    const TWin picture = Ramps(30, 20);
    for (const QString name : {"r.png", "r.jpg", "r.tif"}) {
        WriteImageFile(picture, Path(name));
        const QImage image(Path(name));
        ASSERT_FALSE(image.isNull()) << name.toStdString();
        EXPECT_EQ(image.dotsPerMeterX(), 3937) << name.toStdString();
        EXPECT_EQ(image.dotsPerMeterY(), 3937) << name.toStdString();
    }
}

// A save stopped at once, whatever the format, leaves the old file as it
// was and no temporary file; one left to run replaces it, its progress full.
TEST_F(FileTest, CancelledWriteKeepsTheOldFile)
{
    const TWin picture = test::RandomPicture(300, 200, 4);
    for (const QString name : {"k.png", "k.jpg", "k.webp", "k.tiff", "k.bmp"}) {
        Put(name, "old contents");
        TWriteProgress progress;
        progress.Cancel = true;
        TImageWrite write(Path(name));
        EXPECT_FALSE(write.Run(picture, &progress)) << name.toStdString();
        EXPECT_EQ(Contents(name), "old contents") << name.toStdString();
        EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
        QFile::remove(Path(name));
    }
    // An encoder's own refusal names the file and says why, and keeps the old file too.
    Put("wide.webp", "old contents");
    const std::string message =
        ErrorOf([&] { WriteImageFile(TWin(16384, 1), Path("wide.webp")); });
    EXPECT_EQ(message, "Cannot write file " + Path("wide.webp").toStdString() +
                           ": a WebP image has at most 16383 pixels a side");
    EXPECT_EQ(Contents("wide.webp"), "old contents");
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"wide.webp"});
    TWriteProgress progress;
    EXPECT_TRUE(TImageWrite(Path("whole.png")).Run(picture, &progress));
    EXPECT_EQ(progress.Permille, 1000);
    EXPECT_TRUE(SamePixels(ReadImageFile(Path("whole.png")), picture));
}

TEST_F(FileTest, BrokenFilesNameTheFileAndSayWhy)
{
    const TWin picture = test::RandomPicture(40, 30, 3);
    WriteImageFile(picture, Path("good.png"));
    WriteImageFile(picture, Path("good.jpg"));
    Put("cut.png", Contents("good.png").left(60));
    Put("cut.jpg", Contents("good.jpg").left(200));
    Put("text.png", "hello, this is not a picture\n");
    Put("empty.webp", "");
    // A fuzzer's find: Qt's JPEG reader gives an unset pixel format for it.
    Put("format.jpg", QByteArray::fromBase64("/9hONGhlaWY4Qm94X2NvbHJFAQEBAQEBAQEBAQEBAQEBAQEBAQEBA"
                                            "QUBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQH/wgARCEnUSd"
                                            "QDAREAAhEAAxEA/8QAFAABAAACAAL///////4AAA8="));
    const std::pair<const char*, const char*> cases[] = {{"cut.png", "damaged or cut short"},
                                                         {"format.jpg", "damaged or cut short"},
                                                         {"cut.jpg", "damaged or cut short"},
                                                         {"text.png", "not an image file"},
                                                         {"empty.webp", "not an image file"},
                                                         {"missing.png", "Cannot open file"}};
    for (const auto& [name, why] : cases) {
        const std::string message = ErrorOf([&] { ReadImageFile(Path(name)); });
        EXPECT_NE(message.find(Path(name).toStdString()), std::string::npos) << message;
        EXPECT_NE(message.find(why), std::string::npos) << message;
    }
}

// Runs Action in a child process whose address space may grow by only
// 64 MiB and that may use 10 s of CPU time: a decoder that allocated for the
// size a header announces, or walked the counts it gives, could not.
std::string ErrorUnderLimits(const std::function<std::string()>& Action)
{
    int channel[2];
    if (pipe(channel) != 0)
        return "(no pipe)";
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        QFile status(QStringLiteral("/proc/self/statm"));
        status.open(QIODevice::ReadOnly);
        const rlim_t pages = status.readAll().split(' ').value(0).toULongLong();
        const rlim_t limit = pages * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(64) << 20);
        const rlimit small{limit, limit};
        setrlimit(RLIMIT_AS, &small);
        const rlimit seconds{10, 10};
        setrlimit(RLIMIT_CPU, &seconds);
        const std::string message = Action();
        (void)!write(channel[1], message.data(), message.size());
        _exit(0);
    }
    close(channel[1]);
    std::string message;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
        message.append(buffer, std::size_t(got));
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? message : "(child failed)";
}

// A valid PNG header and a few bytes of deflated data, announcing any size.
QByteArray PngHeader(int Width, int Height, int Depth, int ColourType)
{
    test::TPngPicture tiny{1, 1, ColourType, Depth, {}, {}, {}, {}};
    tiny.Samples.assign(std::size_t(test::Channels(ColourType)), 0);
    QByteArray file = Bytes(test::WritePng(tiny));
    const auto put32 = [&](int At, std::uint32_t V) {
        for (int i = 0; i < 4; ++i)
            file[At + i] = char(V >> (24 - 8 * i));
    };
    put32(16, std::uint32_t(Width));
    put32(20, std::uint32_t(Height));
    put32(29, std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(file.constData() + 12), 17)));
    return file;
}

TEST(HeaderBombs, RefusedBeforeAnythingIsAllocated)
{
    const std::tuple<int, int, int, int, const char*> cases[] = {
        {60000, 60000, 8, PNG_COLOR_TYPE_RGB, "larger than 32767 pixels a side"},
        {60000, 60000, 16, PNG_COLOR_TYPE_RGB, "larger than 32767 pixels a side"},
        {30000, 30000, 8, PNG_COLOR_TYPE_RGB_ALPHA, "needs more than 1 GiB"},
        {32767, 32767, 16, PNG_COLOR_TYPE_RGB, "needs more than 1 GiB"},
        {1, 32768, 1, PNG_COLOR_TYPE_GRAY, "larger than 32767 pixels a side"}};
    for (const auto& [width, height, depth, type, why] : cases) {
        const QByteArray file = PngHeader(width, height, depth, type);
        EXPECT_LT(file.size(), 120);
        const std::string message = ErrorUnderLimits(
            [&] { return ErrorOf([&] { DecodeImage(file, QStringLiteral("bomb.png")); }); });
        EXPECT_EQ(message.rfind("Cannot open bomb.png: ", 0), 0u) << message;
        EXPECT_NE(message.find(why), std::string::npos)
            << width << " x " << height << ": " << message;
    }
}

// A fuzzer's find: a text chunk after the pixels announcing 1.7 GB in a file
// of a few hundred bytes, which libpng allocated before reading it. The same
// chunk with its true length opens, through both of the PNG readers.
TEST(HeaderBombs, PngChunkLongerThanTheFile)
{
    for (const int depth : {8, 16}) {
        test::TPngPicture tiny{2, 2, PNG_COLOR_TYPE_RGB, depth, {}, {}, {}, {}};
        tiny.Samples.assign(12, 7);
        const QByteArray file = Bytes(test::WritePng(tiny));
        const QByteArray text = QByteArray("tEXtnote") + '\0' + "hello";
        QByteArray chunk = QByteArray::fromHex("0000000A") + text;
        const std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(text.constData()), 14);
        for (int shift = 24; shift >= 0; shift -= 8)
            chunk += char(crc >> shift);
        QByteArray sound = file, bomb = file;
        sound.insert(file.size() - 12, chunk);
        bomb.insert(file.size() - 12, chunk.replace(0, 4, QByteArray::fromHex("696D0025")));
        EXPECT_EQ(ErrorUnderLimits([&] {
                      return ErrorOf([&] { DecodeImage(sound, QStringLiteral("note.png")); });
                  }),
                  "(no error)");
        const std::string message = ErrorUnderLimits(
            [&] { return ErrorOf([&] { DecodeImage(bomb, QStringLiteral("note.png")); }); });
        EXPECT_NE(message.find("past the end of the file"), std::string::npos)
            << depth << ": " << message;
    }
}

// Within Tolerance of 0xRRGGBB in every channel.
::testing::AssertionResult Near(std::uint32_t Got, std::uint32_t Want, int Tolerance)
{
    for (int shift = 0; shift <= 16; shift += 8)
        if (std::abs(int(Got >> shift & 0xFF) - int(Want >> shift & 0xFF)) > Tolerance)
            return ::testing::AssertionFailure() << std::hex << Got << " is not near " << Want;
    return ::testing::AssertionSuccess();
}

// Six 8 x 8 blocks of flat colour, three across and two down.
constexpr std::uint32_t Blocks[2][3] = {{0xE01010, 0x10E010, 0x1010E0},
                                        {0xE0E010, 0x10E0E0, 0xE010E0}};

TWin BlockPicture()
{
    TWin picture(24, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x) {
            const std::uint32_t c = Blocks[y / 8][x / 8];
            std::uint8_t* p = picture.Row(y) + 3 * x;
            p[0] = std::uint8_t(c);
            p[1] = std::uint8_t(c >> 8);
            p[2] = std::uint8_t(c >> 16);
        }
    return picture;
}

// An APP1 segment to put after a JPEG's start marker: a big-endian TIFF
// header and one IFD entry, Orientation (0x0112), SHORT, 6: turn 90 degrees
// clockwise.
QByteArray OrientationSix()
{
    return QByteArray::fromHex("FFE10022"
                               "457869660000"
                               "4D4D002A00000008"
                               "0001"
                               "011200030000000100060000"
                               "00000000");
}

TEST_F(FileTest, ExifOrientationSixStandsThePhotoUpright)
{
    WriteImageFile(BlockPicture(), Path("plain.jpg"));
    const QByteArray exif = OrientationSix();
    ASSERT_EQ(exif.size() - 2, 0x22);
    Put("turned.jpg", Contents("plain.jpg").insert(2, exif));
    const TWin image = ReadImageFile(Path("turned.jpg"));
    ASSERT_EQ(image.Width(), 16);
    ASSERT_EQ(image.Height(), 24);
    // The left column of blocks becomes the top row, bottom block first.
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 2; ++column)
            EXPECT_TRUE(
                Near(PixelAt(image, column * 8 + 4, row * 8 + 4), Blocks[1 - column][row], 8))
                << "block " << column << ", " << row;
}

// A GIF of two 3 x 2 frames. Its LZW codes are 3 bits wide: a clear code
// before every pixel keeps the code table from growing.
QByteArray TwoFrameGif()
{
    QByteArray gif("GIF89a");
    gif += QByteArray::fromHex("03000200"
                               "A1"
                               "0000"); // screen 3 x 2, 4-colour table
    gif += QByteArray::fromHex("FF0000"
                               "00FF00"
                               "0000FF"
                               "FFFFFF");
    gif += QByteArray::fromHex("21FF0B") + "NETSCAPE2.0" + QByteArray::fromHex("0301000000");
    for (const std::array<int, 6>& frame :
         {std::array{0, 1, 2, 3, 0, 1}, std::array{3, 3, 3, 2, 2, 2}}) {
        gif += QByteArray::fromHex("21F904"
                                   "04"
                                   "0A00"
                                   "00"
                                   "00"); // 0.1 s
        gif += QByteArray::fromHex("2C"
                                   "00000000"
                                   "03000200"
                                   "00"
                                   "02");
        std::uint32_t bits = 0;
        int count = 0;
        QByteArray data;
        const auto code = [&](int Code) {
            bits |= std::uint32_t(Code) << count;
            for (count += 3; count >= 8; count -= 8, bits >>= 8)
                data += char(bits & 0xFF);
        };
        for (const int index : frame) {
            code(4);
            code(index);
        }
        code(5);
        if (count > 0)
            data += char(bits & 0xFF);
        gif += char(data.size()) + data + '\0';
    }
    return gif + ';';
}

TEST(ConversionRules, AnimationOpensAtItsFirstFrame)
{
    // A screen past the limits is refused from the header, before Qt
    // allocates it; its frames announce only their own size.
    QByteArray wide = TwoFrameGif();
    wide.replace(6, 4, QByteArray::fromHex("30753075")); // 30000 x 30000
    const std::string message = ErrorUnderLimits(
        [&] { return ErrorOf([&] { DecodeImage(wide, QStringLiteral("wide.gif")); }); });
    EXPECT_NE(message.find("30000 x 30000 pixels needs more than 1 GiB"), std::string::npos)
        << message;
    // So is a first frame that reaches far past a small or empty screen:
    // Qt draws it on a canvas grown to hold it.
    const QByteArray firstFrame = QByteArray::fromHex("2C0000000003000200");
    for (const char* screen : {"03000200", "BC400000"}) {
        QByteArray reaching = TwoFrameGif();
        reaching.replace(6, 4, QByteArray::fromHex(screen));
        const qsizetype frame = reaching.indexOf(firstFrame);
        ASSERT_GT(frame, 0);
        reaching.replace(frame + 1, 8, QByteArray::fromHex("1000200030753075")); // 16+30000, 32+30000
        const std::string reached = ErrorUnderLimits(
            [&] { return ErrorOf([&] { DecodeImage(reaching, QStringLiteral("far.gif")); }); });
        EXPECT_NE(reached.find("30016 x 30032 pixels needs more than 1 GiB"), std::string::npos)
            << screen << ": " << reached;
    }

    const TWin image = DecodeImage(TwoFrameGif(), QStringLiteral("two.gif"));
    ASSERT_EQ(image.Width(), 3);
    ASSERT_EQ(image.Height(), 2);
    const std::uint32_t first[2][3] = {{0xFF0000, 0x00FF00, 0x0000FF},
                                       {0xFFFFFF, 0xFF0000, 0x00FF00}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(PixelAt(image, x, y), first[y][x]) << x << ", " << y;
}

// Adobe RGB (1998) to sRGB, worked out by hand: the two share their red and
// blue primaries and white point, so only green mixes into the others.
std::uint32_t AdobeToSrgb(std::uint32_t Adobe)
{
    const auto linear = [](std::uint32_t C) { return std::pow((C & 0xFF) / 255.0, 563.0 / 256.0); };
    const double r = linear(Adobe >> 16), g = linear(Adobe >> 8), b = linear(Adobe);
    const double srgb[3] = {1.39836 * r - 0.39836 * g, g, -0.04293 * g + 1.04293 * b};
    std::uint32_t pixel = 0;
    for (double c : srgb) {
        c = std::clamp(c, 0.0, 1.0);
        c = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
        pixel = pixel << 8 | std::uint32_t(std::lround(c * 255));
    }
    return pixel;
}

TEST_F(FileTest, ColourProfilesAreConvertedToSrgb)
{
    const std::uint32_t colours[] = {0xC86432, 0x40A0F0, 0x30C060, 0xF0F020};
    // Columns 8 pixels wide, so that JPEG's halved colour resolution keeps them.
    QImage adobe(32, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x)
            adobe.setPixel(x, y, colours[x / 8] | 0xFF000000);
    adobe.setColorSpace(QColorSpace(QColorSpace::AdobeRgb));
    ASSERT_TRUE(QImageWriter(Path("adobe.png")).write(adobe));
    ASSERT_TRUE(QImageWriter(Path("adobe.jpg")).write(adobe));
    // Unconverted, every colour would be off by 27 or more in some channel.
    for (const auto& [name, tolerance] : {std::pair{"adobe.png", 2}, std::pair{"adobe.jpg", 12}}) {
        const TWin image = ReadImageFile(Path(name));
        for (int x = 0; x < 4; ++x)
            EXPECT_TRUE(Near(PixelAt(image, x * 8 + 4, 4), AdobeToSrgb(colours[x]), tolerance))
                << name << " colour " << x;
    }
}

// The picture encoded by libheif's own encoder for Format, or empty when the
// packaged library has none.
QByteArray EncodeHeif(heif_compression_format Format, const TWin& Picture)
{
    if (!heif_have_encoder_for_format(Format))
        return {};
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    QByteArray file;
    if (heif_context_get_encoder_for_format(context, Format, &encoder).code == heif_error_Ok &&
        heif_image_create(Picture.Width(), Picture.Height(), heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, &image)
                .code == heif_error_Ok &&
        heif_image_add_plane(image, heif_channel_interleaved, Picture.Width(), Picture.Height(), 8)
                .code == heif_error_Ok) {
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < Picture.Height(); ++y)
            for (int x = 0; x < Picture.Width(); ++x)
                for (int c = 0; c < 3; ++c) // blue, green, red to red, green, blue
                    plane[y * stride + 3 * x + c] = Picture.Row(y)[3 * x + 2 - c];
        heif_encoder_set_lossy_quality(encoder, 90);
        heif_writer writer{1, [](heif_context*, const void* Data, size_t Size, void* Out) {
                               static_cast<QByteArray*>(Out)->append(static_cast<const char*>(Data),
                                                                     qsizetype(Size));
                               return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                           }};
        if (heif_context_encode_image(context, image, encoder, nullptr, nullptr).code ==
            heif_error_Ok)
            heif_context_write(context, &writer, &file);
    }
    heif_image_release(image);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return file;
}

TEST_F(FileTest, HeicAndAvifOpenThroughLibheif)
{
    const TWin picture = BlockPicture();
    for (const auto& [format, name] : {std::pair{heif_compression_HEVC, "photo.heic"},
                                       std::pair{heif_compression_AV1, "photo.avif"}}) {
        const QByteArray file = EncodeHeif(format, picture);
        if (file.isEmpty()) {
            ADD_FAILURE() << "libheif cannot write " << name << " here";
            continue;
        }
        Put(name, file);
        const TWin image = ReadImageFile(Path(name));
        ASSERT_EQ(image.Width(), 24) << name;
        ASSERT_EQ(image.Height(), 16) << name;
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 3; ++column)
                EXPECT_TRUE(
                    Near(PixelAt(image, column * 8 + 4, row * 8 + 4), Blocks[row][column], 12))
                    << name << " block " << column << ", " << row;
        // Cut short, it is refused with the file's name.
        Put(QStringLiteral("cut-") + name, file.left(file.size() / 2));
        const std::string message =
            ErrorOf([&] { ReadImageFile(Path(QStringLiteral("cut-") + name)); });
        EXPECT_NE(message.find("cut-" + std::string(name) + ": "), std::string::npos) << message;
    }
}

// x265 codes whole blocks of 8 samples and no side under 64; libheif crops
// the picture back to the size the file announces.
TEST(HeifCodedSize, ReadFromTheSequenceParameterSet)
{
    const std::tuple<int, int, std::uint32_t, std::uint32_t> cases[] = {
        {13, 7, 64, 64}, {41, 96, 64, 96}, {201, 73, 208, 80}};
    for (const auto& [width, height, codedWidth, codedHeight] : cases) {
        const QByteArray file = EncodeHeif(heif_compression_HEVC, TWin(width, height));
        ASSERT_FALSE(file.isEmpty()) << "libheif cannot write HEIC here";
        const auto sizes = imagefiles::HevcCodedSizes(file);
        ASSERT_EQ(sizes.size(), 1u) << width << " x " << height;
        ASSERT_TRUE(sizes[0].has_value()) << width << " x " << height;
        EXPECT_EQ(sizes[0]->Width, codedWidth) << width << " x " << height;
        EXPECT_EQ(sizes[0]->Height, codedHeight) << width << " x " << height;
        // A parameter set cut short of the size is unreadable, never read past.
        const qsizetype sps = file.indexOf(QByteArray("\x42\x01", 2));
        ASSERT_GT(sps, 2);
        for (int length = 3; length <= 16; ++length) {
            QByteArray cut = file;
            cut[sps - 1] = char(length);
            const auto cutSizes = imagefiles::HevcCodedSizes(cut);
            ASSERT_EQ(cutSizes.size(), 1u);
            EXPECT_FALSE(cutSizes[0].has_value()) << length;
        }
    }
}

// Boxes nested a hundred thousand deep are not followed down the stack.
TEST(HeifCodedSize, DeeplyNestedBoxesAreNotFollowed)
{
    const int depth = 100000;
    QByteArray file;
    for (int level = 0; level < depth; ++level) {
        const std::uint32_t size = std::uint32_t(12 * (depth - level));
        for (int shift = 24; shift >= 0; shift -= 8)
            file.append(char(size >> shift));
        file.append("meta\0\0\0\0", 8);
    }
    EXPECT_TRUE(imagefiles::HevcCodedSizes(file).empty());
}

// libheif allocates a grid's canvas and a tile's coded picture before it
// compares them with the sizes the file announces; they are refused first.
TEST(HeaderBombs, HeicLargerInsideThanAnnounced)
{
    // A fuzzer's find: the tile layout lies past the end of its box, where
    // the next box's bytes announce a canvas of 14441 x 27759.
    QFile fixture(QString(TAVRIN_TEST_FIXTURES) + "/tile-layout-outside-its-box.heic");
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const QByteArray found = fixture.readAll();
    std::string message = ErrorUnderLimits(
        [&] { return ErrorOf([&] { DecodeImage(found, QStringLiteral("found.heic")); }); });
    EXPECT_EQ(message, "Cannot open found.heic: the HEIF image is damaged: "
                       "its tile layout cannot be read");

    // libheif writes a 201 x 73 picture as one 208 x 80 tile in a grid.
    const QByteArray good = EncodeHeif(heif_compression_HEVC, TWin(201, 73));
    ASSERT_FALSE(good.isEmpty()) << "libheif cannot write HEIC here";
    const qsizetype layout = good.indexOf("idat") + 4 + 4;
    ASSERT_EQ(good.mid(layout, 4).toHex(), "00c90049");
    // Every size announced as 13 x 7, then the grid's own size too.
    QByteArray small = good;
    for (qsizetype ispe = 0; (ispe = small.indexOf("ispe", ispe + 1)) > 0;)
        small.replace(ispe + 8, 8, QByteArray("\0\0\0\x0D\0\0\0\x07", 8));
    QByteArray smaller = small;
    smaller.replace(layout, 4, QByteArray("\0\x0D\0\x07", 4));
    QByteArray huge = good;
    huge.replace(layout, 4, QByteArray("\x38\x69\x6C\x6F", 4));
    const std::pair<QByteArray, const char*> cases[] = {
        {huge, "the image of 14441 x 27759 pixels needs more than 1 GiB"},
        {small, "its tile layout of 201 x 73 pixels is larger than the image it announces"},
        {smaller, "its coded picture of 208 x 80 pixels is larger than the image it announces"}};
    for (const auto& [file, why] : cases) {
        message = ErrorUnderLimits(
            [&] { return ErrorOf([&] { DecodeImage(file, QStringLiteral("bomb.heic")); }); });
        EXPECT_EQ(message.rfind("Cannot open bomb.heic: ", 0), 0u) << message;
        EXPECT_NE(message.find(why), std::string::npos) << message;
    }
}

// An AV1 picture's size is in the sequence header at the start of its data:
// 4001 x 3 is coded with 12 bits a width, whose largest value 4096 is far
// past the width the file announces.
TEST(HeaderBombs, AvifCodedPictureLargerThanAnnounced)
{
    QByteArray file = EncodeHeif(heif_compression_AV1, TWin(4001, 3));
    ASSERT_FALSE(file.isEmpty()) << "libheif cannot write AVIF here";
    // A temporal delimiter, then the sequence header with its reduced form:
    // profile 3 bits, two flags, level 5, then 4 and 4 bits of field sizes.
    const qsizetype header = file.indexOf("mdat") + 4;
    ASSERT_EQ(file.mid(header, 3).toHex(), "12000a");
    const auto bit = [&](int At) { return file[header + 4 + At / 8] >> (7 - At % 8) & 1; };
    int width = 0;
    for (int at = 18; at < 30; ++at)
        width = width << 1 | bit(at);
    ASSERT_EQ(width, 4000);
    file[header + 4 + 2] = char(file[header + 4 + 2] | 0x3F);
    file[header + 4 + 3] = char(file[header + 4 + 3] | 0xFC);
    const std::string message = ErrorUnderLimits(
        [&] { return ErrorOf([&] { DecodeImage(file, QStringLiteral("wide.avif")); }); });
    EXPECT_EQ(message, "Cannot open wide.avif: the HEIF image is damaged: its coded picture "
                       "of 4096 x 3 pixels is larger than the image it announces");
}

// Plain JPEG files skip Qt's reader; they must give exactly the pixels it
// gives, in every layout a camera or a program writes.
TEST_F(FileTest, PlainJpegGivesWhatQtsReaderGives)
{
    QImage picture(41, 23, QImage::Format_RGB32);
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 41; ++x)
            picture.setPixel(x, y, qRgb(x * 6, y * 11, (x * y) & 0xFF));
    struct Layout {
        const char* Name;
        QImage Image;
        bool Progressive;
        int Quality;
    };
    for (const Layout& layout :
         {Layout{"colour.jpg", picture, false, 92},
          Layout{"grey.jpg", picture.convertToFormat(QImage::Format_Grayscale8), false, 75},
          Layout{"progressive.jpg", picture, true, 50}}) {
        QImageWriter writer(Path(layout.Name));
        writer.setQuality(layout.Quality);
        writer.setProgressiveScanWrite(layout.Progressive);
        ASSERT_TRUE(writer.write(layout.Image)) << layout.Name;
        const QImage qt = QImage(Path(layout.Name)).convertToFormat(QImage::Format_RGB32);
        const TWin ours = ReadImageFile(Path(layout.Name));
        ASSERT_EQ(ours.Width(), qt.width());
        ASSERT_EQ(ours.Height(), qt.height());
        int wrong = 0;
        for (int y = 0; y < qt.height(); ++y)
            for (int x = 0; x < qt.width(); ++x)
                wrong += PixelAt(ours, x, y) != (qt.pixel(x, y) & 0xFFFFFF);
        EXPECT_EQ(wrong, 0) << layout.Name;
    }
}

// A HEIF file whose iloc box has offset, length and index fields zero bytes
// wide, so that each of its Items entries, of 8 or 10 bytes, counts 65535
// extents. Its one grid item has no entry: a walk would go through them all.
QByteArray CountsWithoutBytes(int Version, std::uint32_t Items)
{
    const auto box = [](const char* Type, const QByteArray& Body) {
        QByteArray size(4, '\0');
        qToBigEndian(quint32(8 + Body.size()), size.data());
        return size + Type + Body;
    };
    QByteArray count(4, '\0');
    qToBigEndian(quint32(Items), count.data());
    count = count.right(Version < 2 ? 2 : 4);
    const QByteArray entry = QByteArray(count.size() - 1, '\0') + "\7" + QByteArray(4, '\0') + "\xFF\xFF";
    const QByteArray hdlr = box("hdlr", QByteArray(8, '\0') + "pict" + QByteArray(13, '\0'));
    const QByteArray iinf = QByteArray::fromHex("0000002269696E66000000000001"
                                                "00000014696E66650200000000010000" "67726964");
    return box("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16)) +
           box("meta", QByteArray(4, '\0') + hdlr + iinf +
                           box("iloc", char(Version) + QByteArray(5, '\0') + count +
                                           entry.repeated(int(Items))));
}

TEST(HeaderBombs, HeicCountsPastTheBytesThatHoldThem)
{
    // 4.3 billion extents in 524 kB, and 10 billion in 10 MB.
    for (const auto& [version, items] : {std::pair{1, 65535u}, std::pair{2, 1'000'000u}}) {
        const QByteArray file = CountsWithoutBytes(version, items);
        const std::string message = ErrorUnderLimits(
            [&] { return ErrorOf([&] { DecodeImage(file, QStringLiteral("bomb.heic")); }); });
        EXPECT_EQ(message, "Cannot open bomb.heic: the HEIF image is damaged: "
                           "its tile layout cannot be read")
            << "version " << version;
    }
}

// A JPEG header of 18900 x 18900 pixels in three components at full
// resolution, with one Huffman code, cut four bytes into its first scan.
QByteArray JpegHeader(char Frame)
{
    return QByteArray::fromHex("FFD8FFDB004300") + QByteArray(64, '\1') + "\xFF" + Frame +
           QByteArray::fromHex("00110849D449D403011100021100031100"
                               "FFC40014000100000000000000000000000000000000"
                               "FFDA000C03010002000300") +
           QByteArray::fromHex(Frame == '\xC2' ? "000000" : "003F00") + QByteArray(4, '\0');
}

TEST(HeaderBombs, ProgressiveJpegCountsTheWholeImagesCoefficients)
{
    // libjpeg keeps a progressive file's coefficients whole: 64 of 2 bytes
    // for each 8 x 8 block (2363 x 2363 of them) of each component, on top
    // of the surface's 18900 rows of 56700 bytes.
    const std::uint64_t blocks = 2363ull * 2363;
    const std::uint64_t least = (3 * blocks * 128 + 56700ull * 18900) >> 20;
    const std::string message = ErrorUnderLimits(
        [&] { return ErrorOf([&] { DecodeImage(JpegHeader('\xC2'), QStringLiteral("p.jpg")); }); });
    const std::string start = "Cannot open p.jpg: the image of 18900 x 18900 pixels needs ";
    ASSERT_EQ(message.rfind(start, 0), 0u) << message;
    const std::uint64_t needs = std::stoull(message.substr(start.size()));
    EXPECT_TRUE(needs >= least && needs <= least + 64) << message;
    EXPECT_NE(message.find("MiB of memory to open, more than the 2048 MiB"), std::string::npos);
    // One scan at a time needs no such buffers: within the budget.
    const std::optional<TReach> baseline = ReachOf(JpegHeader('\xC0'));
    EXPECT_TRUE(baseline && Admits(*baseline) && baseline->Bytes >= 56700ull * 18900);
}

// How far the resident memory of a child process rises while it decodes
// File, in bytes, or why it fails. Small, a file of the same format, is
// decoded first to load the format's libraries.
std::string PeakGrowth(const QByteArray& File, const QByteArray& Small)
{
    const auto kilobytes = [](const QByteArray& Field) {
        QFile status(QStringLiteral("/proc/self/status"));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        return text.mid(text.indexOf(Field) + Field.size()).trimmed().split(' ')[0].toLongLong();
    };
    return ErrorUnderLimits([&] {
        DecodeImage(Small, QStringLiteral("small"));
        malloc_trim(0); // so that memory freed before counts when taken again
        QFile peak(QStringLiteral("/proc/self/clear_refs"));
        if (!peak.open(QIODevice::WriteOnly) || peak.write("5") != 1 || !peak.flush())
            return std::string("(peak not reset)");
        const long long before = kilobytes("VmRSS:");
        const std::string error = ErrorOf([&] { DecodeImage(File, QStringLiteral("big")); });
        return error != "(no error)" ? error : std::to_string((kilobytes("VmHWM:") - before) << 10);
    });
}

// The reach the checks compute is what the whole decode takes at most, on
// every road: measured, in a child process, on pictures of 1200 x 800.
TEST_F(FileTest, EveryDecodeStaysWithinItsReach)
{
    const auto make = [&](const std::string& Kind, int Width, int Height) {
        const TWin picture = test::RandomPicture(Width, Height, 9);
        if (Kind == "heic")
            return EncodeHeif(heif_compression_HEVC, picture);
        if (Kind == "gif") { // the first frame reaches from an empty screen to the far corner
            QByteArray gif = TwoFrameGif();
            qToLittleEndian<quint32>(quint32(Width), gif.data() + 6);
            const qsizetype frame = gif.indexOf(QByteArray::fromHex("2C0000000003000200"));
            qToLittleEndian<quint16>(quint16(Height - 2), gif.data() + frame + 3);
            return gif;
        }
        const QImage image(picture.Bits, Width, Height, qsizetype(picture.Stride),
                           QImage::Format_BGR888);
        const QString name = QString::fromStdString("f." + Kind.substr(Kind.rfind(' ') + 1));
        QImageWriter writer(Path(name));
        writer.setProgressiveScanWrite(Kind == "progressive jpg");
        writer.write(image.convertToFormat(Kind == "palette png"  ? QImage::Format_Indexed8
                                           : Kind == "16-bit png" ? QImage::Format_RGBX64
                                                                  : image.format()));
        QByteArray file = Contents(name);
        return Kind == "turned jpg" ? file.insert(2, OrientationSix()) : file;
    };
    for (const std::string kind : {"gif", "palette png", "16-bit png", "progressive jpg",
                                   "turned jpg", "tif", "webp", "heic"}) {
        const QByteArray file = make(kind, 1200, 800);
        if (file.isEmpty())
            continue; // no HEIC encoder here
        const std::optional<TReach> reach = ReachOf(file);
        ASSERT_TRUE(reach.has_value()) << kind;
        const std::string growth = PeakGrowth(file, make(kind, 16, 16));
        ASSERT_GT(std::atoll(growth.c_str()), 1200 * 800 * 3) << kind << ": " << growth;
        EXPECT_LE(std::strtoull(growth.c_str(), nullptr, 10), reach->Bytes) << kind;
    }
}

} // namespace
} // namespace tavrin

namespace tavrin {
namespace {

// A photo-like picture (gradients and a little grain) as a baseline JPEG
// with the given luma sampling, or grey, written by libjpeg itself.
std::vector<unsigned char> BaselineJpeg(int Width, int Height, int Sampling, std::mt19937& Random)
{
    std::vector<unsigned char> rows(std::size_t(Width) * std::size_t(Height) * 3);
    std::uniform_int_distribution<int> grain(-6, 6);
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x)
            for (int c = 0; c < 3; ++c)
                rows[(std::size_t(y) * std::size_t(Width) + std::size_t(x)) * 3 + std::size_t(c)] = std::uint8_t(
                    std::clamp(40 + (x * (c + 1) * 150) / Width + (y * (3 - c) * 50) / Height + grain(Random), 0, 255));
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(Width);
    info.image_height = JDIMENSION(Height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, std::uniform_int_distribution<int>(50, 95)(Random), TRUE);
    if (Sampling == 0)
        jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    else
        info.comp_info[0].h_samp_factor = Sampling == 1 ? 1 : 2, info.comp_info[0].v_samp_factor = Sampling == 3 ? 2 : 1;
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < Height; ++y) {
        JSAMPROW row = rows.data() + std::size_t(y) * std::size_t(Width) * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<unsigned char> file(out, out + size);
    std::free(out);
    return file;
}

// The first look on two threads: the same picture wherever the second
// thread starts (which it joins in most places), close to libjpeg's own
// decode at that scale.
TEST(JpegFirstLook, SameWhereverTheSecondThreadStartsAndCloseToLibjpeg)
{
    std::mt19937 random(17);
    for (int round = 0; round < 8; ++round) {
        const int width = std::uniform_int_distribution<int>(90, 420)(random);
        const int height = std::uniform_int_distribution<int>(60, 300)(random);
        const std::vector<unsigned char> file = BaselineJpeg(width, height, round % 4, random);
        for (const int scale : {1, 2}) {
            jpeg_decompress_struct info{};
            jpeg_error_mgr errors{};
            info.err = jpeg_std_error(&errors);
            jpeg_create_decompress(&info);
            jpeg_mem_src(&info, file.data(), file.size());
            jpeg_read_header(&info, TRUE);
            const std::uint8_t* scan = info.src->next_input_byte;
            const std::size_t bytes = info.src->bytes_in_buffer;
            const std::optional<TWin> alone = imagefiles::DecodeFirstLook(info, scan, bytes, scale, bytes);
            ASSERT_TRUE(alone);
            int joined = 0, splits = 0;
            for (std::size_t at = 1; at < bytes; at += bytes / 13 + 1, ++splits) {
                bool split = false;
                const std::optional<TWin> look = imagefiles::DecodeFirstLook(info, scan, bytes, scale, at, &split);
                ASSERT_TRUE(look);
                ASSERT_TRUE(test::SamePixels(*look, *alone)) << "split at " << at;
                joined += split;
            }
            EXPECT_GT(joined, splits / 2);
            // Cut short, the scan is left to libjpeg, which fills in the rest.
            EXPECT_FALSE(imagefiles::DecodeFirstLook(info, scan, bytes / 2, scale));
            // libjpeg's reduced decode of the same file.
            info.scale_num = unsigned(scale);
            info.scale_denom = 8;
            info.out_color_space = JCS_EXT_BGR;
            info.do_fancy_upsampling = FALSE;
            jpeg_start_decompress(&info);
            ASSERT_EQ(int(info.output_width), alone->Width());
            ASSERT_EQ(int(info.output_height), alone->Height());
            double error = 0;
            int worst = 0;
            std::vector<unsigned char> row(info.output_width * 3);
            for (int y = 0; info.output_scanline < info.output_height; ++y) {
                JSAMPROW into = row.data();
                jpeg_read_scanlines(&info, &into, 1);
                for (std::size_t x = 0; x < row.size(); ++x) {
                    const int off = std::abs(int(row[x]) - int(alone->Row(y)[x]));
                    error += off;
                    worst = std::max(worst, off);
                }
            }
            jpeg_finish_decompress(&info);
            jpeg_destroy_decompress(&info);
            error /= double(alone->Width()) * alone->Height() * 3;
            // libjpeg makes 4:2:0 chroma at twice the scale, where the
            // first look repeats it.
            const bool halfChroma = round % 4 == 3;
            EXPECT_LT(error, halfChroma ? 2.5 : 0.3) << width << "x" << height << " sampling " << round % 4;
            EXPECT_LE(worst, halfChroma ? 16 : 4) << width << "x" << height << " sampling " << round % 4;
        }
    }
}

} // namespace
} // namespace tavrin
