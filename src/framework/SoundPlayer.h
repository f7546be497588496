// Sound playback: the program's wave resources, decoded with libsndfile and
// played on the default audio output.
#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QAudioSink;

// A decoded sound: interleaved signed 16-bit samples.
struct TPcm {
    int Channels = 0;
    int SampleRate = 0;
    QByteArray Samples;

    qint64 Frames() const { return Channels ? Samples.size() / (2 * Channels) : 0; }
    qint64 DurationMs() const { return SampleRate ? Frames() * 1000 / SampleRate : 0; }
};

// Decodes a sound file held in memory (any format libsndfile reads).
// Returns an empty TPcm (no channels) when the bytes are not a sound.
TPcm DecodeSound(const QByteArray& File);

// Holds the caller, running the event loop, until a sound of DurationMs has
// ended: until the device has played every sample (Drained) and the sound's
// length has passed on ElapsedMs, and at most a margin past its length when
// the device never gets there.
void WaitForSoundEnd(qint64 DurationMs, const std::function<bool()>& Drained,
                     const std::function<qint64()>& ElapsedMs);

enum class TPlayback { Async, Wait };

class TSoundPlayer {
public:
    virtual ~TSoundPlayer() = default;
    // Plays the resource ":/<Name>". Async replaces a sound still playing and
    // returns at once; Wait returns when the sound has ended. A sound that is
    // missing or cannot be played is skipped without a word.
    virtual void Play(const QString& Name, TPlayback Mode) = 0;
};

// Plays on the default output device through Qt Multimedia. Play never runs
// the event loop to start or replace a sound (only Wait's hold does): each
// sample format has one output, opened on first use and kept for the
// player's life, because destroying a QAudioSink processes events.
class TQtSoundPlayer : public TSoundPlayer {
public:
    TQtSoundPlayer();
    ~TQtSoundPlayer() override;
    void Play(const QString& Name, TPlayback Mode) override;

private:
    struct TOutput {
        QAudioFormat Format;
        std::unique_ptr<QAudioSink> Sink;
    };

    const TPcm& Decoded(const QString& Name);
    TOutput* OutputFor(const TPcm& Pcm);
    void StopAll();

    QHash<QString, TPcm> Cache;
    std::vector<std::unique_ptr<TOutput>> Outputs;
};
