// The seven sound resources: their stored formats, and what the libsndfile
// decoder makes of them, checked against a hand-parsed RIFF file; how long
// the closing sound holds its caller.
#include <QFile>
#include <QtEndian>

#include "AppTestSupport.h"

namespace {

// The "fmt " and "data" chunks of a RIFF WAVE file, parsed by hand.
struct TWaveChunks {
    int FormatTag = 0;
    int Channels = 0;
    int SampleRate = 0;
    int Bits = 0;
    QByteArray Data;
};

TWaveChunks ParseWave(const QByteArray& File)
{
    TWaveChunks wave;
    if (!File.startsWith("RIFF") || File.mid(8, 4) != "WAVE")
        return wave;
    const auto u16 = [&](qsizetype At) {
        return int(qFromLittleEndian<quint16>(File.constData() + At));
    };
    const auto u32 = [&](qsizetype At) {
        return qint64(qFromLittleEndian<quint32>(File.constData() + At));
    };
    for (qsizetype at = 12; at + 8 <= File.size();) {
        const QByteArray id = File.mid(at, 4);
        const qint64 size = u32(at + 4);
        if (id == "fmt ") {
            wave.FormatTag = u16(at + 8);
            wave.Channels = u16(at + 10);
            wave.SampleRate = int(u32(at + 12));
            wave.Bits = u16(at + 22);
        } else if (id == "data") {
            wave.Data = File.mid(at + 8, size);
        }
        at += 8 + size + (size & 1);
    }
    return wave;
}

QByteArray Resource(const QString& Name)
{
    QFile file(QStringLiteral(":/") + Name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// G.711 mu-law expansion, as the standard gives it.
qint16 MuLawToLinear(quint8 Byte)
{
    const int u = ~Byte & 0xFF;
    const int magnitude = (((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7);
    return qint16((u & 0x80) ? 0x84 - magnitude : magnitude - 0x84);
}

const qint16* Samples(const TPcm& Pcm)
{
    return reinterpret_cast<const qint16*>(Pcm.Samples.constData());
}

constexpr int Pcm16 = 1, MuLaw = 7, ImaAdpcm = 0x11;

} // namespace

class TestSounds : public QObject {
    Q_OBJECT
private slots:
    void resourcesHaveTheirFormats_data();
    void resourcesHaveTheirFormats();
    void pcmDecodesToItsOwnSamples();
    void muLawDecodesByTheStandardTable();
    void damagedSoundsDecodeToWhatIsThere();
    void closingSoundHoldsTheExitUntilItsEnd();
};

void TestSounds::resourcesHaveTheirFormats_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("formatTag");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("minMs");
    QTest::addColumn<int>("maxMs");
    QTest::newRow("start") << "RSTART" << Pcm16 << 16 << 1 << 44100 << 345 << 355;
    QTest::newRow("click") << "RCLICK" << Pcm16 << 16 << 1 << 44100 << 1 << 20;
    QTest::newRow("tick") << "RTICK" << ImaAdpcm << 4 << 2 << 22050 << 1 << 40;
    QTest::newRow("pop") << "RPOP" << Pcm16 << 16 << 1 << 44100 << 29 << 31;
    QTest::newRow("strum") << "RSTRUM" << MuLaw << 8 << 1 << 22050 << 185 << 195;
    QTest::newRow("exit") << "REXIT" << Pcm16 << 16 << 1 << 44100 << 1995 << 2005;
    QTest::newRow("air") << "RAIR" << Pcm16 << 16 << 1 << 44100 << 595 << 605;
}

void TestSounds::resourcesHaveTheirFormats()
{
    QFETCH(QString, name);
    QFETCH(int, formatTag);
    QFETCH(int, bits);
    QFETCH(int, channels);
    QFETCH(int, rate);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);

    const QByteArray file = Resource(name);
    const TWaveChunks wave = ParseWave(file);
    QCOMPARE(wave.FormatTag, formatTag);
    QCOMPARE(wave.Bits, bits);
    QCOMPARE(wave.Channels, channels);
    QCOMPARE(wave.SampleRate, rate);

    const TPcm pcm = DecodeSound(file);
    QCOMPARE(pcm.Channels, channels);
    QCOMPARE(pcm.SampleRate, rate);
    const qint64 ms = pcm.Frames() * 1000 / rate;
    QVERIFY2(ms >= minMs && ms <= maxMs, qPrintable(QString::number(ms)));
    // Something audible: not all silence.
    const qint16* sample = Samples(pcm);
    QVERIFY(std::any_of(sample, sample + pcm.Frames() * channels,
                        [](qint16 s) { return std::abs(s) > 1000; }));
}

void TestSounds::pcmDecodesToItsOwnSamples()
{
    for (const char* name : {"RSTART", "RCLICK", "RPOP", "REXIT", "RAIR"}) {
        const QByteArray file = Resource(QString::fromLatin1(name));
        const TWaveChunks wave = ParseWave(file);
        QVERIFY(!wave.Data.isEmpty());
        QCOMPARE(DecodeSound(file).Samples, wave.Data); // both little-endian 16-bit
    }
}

void TestSounds::muLawDecodesByTheStandardTable()
{
    const QByteArray file = Resource(QStringLiteral("RSTRUM"));
    const QByteArray bytes = ParseWave(file).Data;
    const TPcm pcm = DecodeSound(file);
    QCOMPARE(pcm.Frames(), bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i)
        QCOMPARE(Samples(pcm)[i], MuLawToLinear(quint8(bytes[i])));
}

void TestSounds::damagedSoundsDecodeToWhatIsThere()
{
    QCOMPARE(DecodeSound(QByteArray()).Frames(), 0);
    QCOMPARE(DecodeSound(QByteArray("RIFF\x10\0\0\0WAVEjunkjunk", 20)).Frames(), 0);
    QCOMPARE(DecodeSound(QByteArray(5000, '\x7f')).Frames(), 0);

    // A file cut short plays as far as it goes.
    const QByteArray whole = Resource(QStringLiteral("REXIT"));
    const qint64 wholeFrames = DecodeSound(whole).Frames();
    const qint64 cutFrames = DecodeSound(whole.left(whole.size() / 2)).Frames();
    QVERIFY(cutFrames > 0);
    QVERIFY(qAbs(cutFrames - wholeFrames / 2) < 100);
    // The header alone holds no sound.
    QCOMPARE(DecodeSound(whole.left(44)).Frames(), 0);
}

void TestSounds::closingSoundHoldsTheExitUntilItsEnd()
{
    // A clock that moves on 40 ms each time it is read, and a device that
    // has played everything once the sound's length has passed, at once, or
    // never. The wait ends after the sound, and not much after.
    constexpr qint64 length = 600, step = 40, enough = 1000;
    using TDevice = bool (*)(qint64 Now);
    const TDevice devices[] = {
        [](qint64 Now) { return Now >= length; },
        [](qint64) { return true; },
        [](qint64) { return false; },
    };
    for (const TDevice finished : devices) {
        qint64 now = 0;
        WaitForSoundEnd(length, [&] { return finished(now); }, [&] { return now += step; });
        QVERIFY2(now >= length, qPrintable(QString::number(now)));
        QVERIFY2(now <= length + enough, qPrintable(QString::number(now)));
    }
}

TAVRIN_TEST_MAIN(TestSounds)
#include "sound_test.moc"
