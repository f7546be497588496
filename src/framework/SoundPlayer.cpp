#include "SoundPlayer.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMediaDevices>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cstring>

namespace {

// libsndfile reads the resource bytes through these callbacks.
struct TMemoryFile {
    const QByteArray& Bytes;
    sf_count_t Position = 0;
};

TMemoryFile& FileOf(void* User)
{
    return *static_cast<TMemoryFile*>(User);
}

sf_count_t MemoryLength(void* User)
{
    return FileOf(User).Bytes.size();
}

sf_count_t MemorySeek(sf_count_t Offset, int Whence, void* User)
{
    TMemoryFile& file = FileOf(User);
    const sf_count_t base = Whence == SEEK_SET   ? 0
                            : Whence == SEEK_CUR ? file.Position
                                                 : sf_count_t(file.Bytes.size());
    const sf_count_t target = base + Offset;
    if (target < 0 || target > file.Bytes.size())
        return -1;
    file.Position = target;
    return target;
}

sf_count_t MemoryRead(void* Data, sf_count_t Count, void* User)
{
    TMemoryFile& file = FileOf(User);
    const sf_count_t count = std::clamp<sf_count_t>(Count, 0, file.Bytes.size() - file.Position);
    std::memcpy(Data, file.Bytes.constData() + file.Position, std::size_t(count));
    file.Position += count;
    return count;
}

sf_count_t MemoryWrite(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t MemoryTell(void* User)
{
    return FileOf(User).Position;
}

// No sound of the program is long; a minute bounds what a bad header can ask for.
constexpr sf_count_t MaxSeconds = 60;
// How much longer than its own length the closing sound may hold the exit,
// and how long it is given after its last sample went to the device.
constexpr qint64 WaitMarginMs = 500;
constexpr qint64 WaitTailMs = 150;
// The output's buffer: what a new sound waits behind at most.
constexpr int BufferMs = 20;

} // namespace

TPcm DecodeSound(const QByteArray& File)
{
    TMemoryFile file{File};
    SF_VIRTUAL_IO io{MemoryLength, MemorySeek, MemoryRead, MemoryWrite, MemoryTell};
    SF_INFO info{};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (!sound)
        return {};
    TPcm pcm;
    if (info.channels > 0 && info.channels <= 8 && info.samplerate > 0 &&
        info.samplerate <= 384000 && info.frames > 0) {
        const sf_count_t frames = std::min<sf_count_t>(info.frames, MaxSeconds * info.samplerate);
        QByteArray samples(qsizetype(frames * info.channels * 2), Qt::Uninitialized);
        const sf_count_t read =
            sf_readf_short(sound, reinterpret_cast<short*>(samples.data()), frames);
        if (read > 0) {
            samples.truncate(qsizetype(read * info.channels * 2));
            pcm = TPcm{info.channels, info.samplerate, samples};
        }
    }
    sf_close(sound);
    return pcm;
}

void WaitForSoundEnd(qint64 DurationMs, const std::function<bool()>& Drained,
                     const std::function<qint64()>& ElapsedMs)
{
    // Handing the last sample to the device is not the end of the sound: wait
    // for its length as well, and never longer than the margin allows.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const qint64 elapsed = ElapsedMs();
        if ((Drained() && elapsed >= DurationMs + WaitTailMs) || elapsed >= DurationMs + WaitMarginMs)
            loop.quit();
    });
    poll.start(10);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

TQtSoundPlayer::TQtSoundPlayer() = default;

TQtSoundPlayer::~TQtSoundPlayer()
{
    StopAll();
}

const TPcm& TQtSoundPlayer::Decoded(const QString& Name)
{
    auto found = Cache.constFind(Name);
    if (found == Cache.constEnd()) {
        QFile file(QStringLiteral(":/") + Name);
        // A sound that fails to decode is remembered as empty, not retried.
        found = Cache.insert(Name, file.open(QIODevice::ReadOnly) ? DecodeSound(file.readAll())
                                                                   : TPcm{});
    }
    return *found;
}

TQtSoundPlayer::TOutput* TQtSoundPlayer::OutputFor(const TPcm& Pcm)
{
    QAudioFormat format;
    format.setSampleRate(Pcm.SampleRate);
    format.setChannelCount(Pcm.Channels);
    format.setSampleFormat(QAudioFormat::Int16);
    for (const auto& output : Outputs)
        if (output->Format == format)
            return output.get();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format))
        return nullptr;
    auto output = std::make_unique<TOutput>();
    output->Format = format;
    output->Sink = std::make_unique<QAudioSink>(device, format);
    output->Sink->setBufferSize(format.bytesForDuration(BufferMs * 1000));
    Outputs.push_back(std::move(output));
    return Outputs.back().get();
}

void TQtSoundPlayer::StopAll()
{
    // Stopping closes the stream at once; only destroying a sink would
    // process events.
    for (const auto& output : Outputs)
        output->Sink->stop();
}

void TQtSoundPlayer::Play(const QString& Name, TPlayback Mode)
{
    const TPcm& pcm = Decoded(Name);
    if (pcm.Frames() == 0)
        return;
    TOutput* output = OutputFor(pcm);
    if (!output)
        return;

    StopAll();
    QIODevice* input = output->Sink->start();
    if (!input)
        return;
    QElapsedTimer clock;
    clock.start();
    // All of it at once: the sound plays on with the event loop busy. The
    // silence behind it fills the device's buffer, which starts playing
    // only when full, so that a click shorter than the buffer is heard.
    input->write(pcm.Samples);
    input->write(QByteArray(output->Sink->bufferSize(), '\0'));
    if (Mode == TPlayback::Wait)
        WaitForSoundEnd(
            pcm.DurationMs(), [output] { return output->Sink->state() != QAudio::ActiveState; },
            [&clock] { return clock.elapsed(); });
}
