#pragma once

#include <QAudioFormat>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/services.h"

class QAudioSink;
class QIODevice;
class QMediaDevices;

namespace auralist {

class EngineSound;

// Decodes with libsndfile and plays through one QAudioSink in push mode,
// fed from the event loop in small slices, so nothing ever blocks. Each
// sound gets a stream of its own, in the sound's own sample rate, closed
// when it ends or is stopped.
class SndfileSoundEngine : public QObject, public SoundEngine {
    Q_OBJECT
public:
    explicit SndfileSoundEngine(QObject *parent = nullptr);
    ~SndfileSoundEngine() override;

    SoundPtr load(const std::string &path) override;
    std::vector<std::string> soundUnfilteredFileTypes() const override { return m_types; }
    std::string lastLoadError() const override { return m_loadError; }

    // Called once each time sound output fails after having worked (or
    // fails at the first try), with a message for the user, from the event
    // loop and after the failed sound's end has been reported.
    void setOutputProblemHandler(std::function<void(const std::string &)> handler)
    {
        m_problemHandler = std::move(handler);
    }

    void start(const std::shared_ptr<EngineSound> &sound);
    void stop(EngineSound *sound);
    bool isActive(const EngineSound *sound) const { return m_active.get() == sound; }

private:
    void pump();
    void finishActive(bool finished);
    bool openSink(int sampleRate, int channels);
    void closeSink();
    void reportProblem(const std::string &message);

    std::vector<std::string> m_types;
    std::string m_loadError;
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice *m_io = nullptr;
    QAudioFormat m_format;
    std::shared_ptr<EngineSound> m_active;
    QTimer m_timer;
    QElapsedTimer m_clock; // since the current sound's play
    std::vector<float> m_decoded;
    std::vector<char> m_pending;
    std::vector<char> m_silence;
    qint64 m_framesWritten = 0;
    qint64 m_startUSecs = 0;
    bool m_decodeDone = false;
    bool m_problemShown = false;
    std::string m_pendingProblem;
    bool m_outputStarted = false; // Qt's audio backend has been asked
    std::function<void(const std::string &)> m_problemHandler;
};

} // namespace auralist
