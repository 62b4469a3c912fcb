#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "waveform/peak_summary.h"
#include "waveform/time_scale.h"

namespace auralist {

// The strip that shows the current sound: its peaks, a light time scale, the
// playhead moving at the screen's rate, the part already played tinted. A
// click seeks (and plays) there; dragging scrubs.
//
// Summaries are asked of the requester (a worker thread, which answers
// through summaryArrived on the strip's thread) and kept in a small cache (the
// last 48 sounds, 64 MB at most, least recently used going first), so going
// back to a sound draws it at once.
class WaveformStrip : public QWidget {
    Q_OBJECT
public:
    static constexpr std::size_t kCacheEntries = 48;
    static constexpr std::size_t kCacheBytes = 64U << 20U;

    explicit WaveformStrip(QWidget *parent = nullptr);
    ~WaveformStrip() override;

    // Asks for the summary of a path, to come back through summaryArrived
    // with the same generation.
    using Requester = std::function<void(std::uint64_t generation, const std::string &path)>;
    void setRequester(Requester requester) { m_requester = std::move(requester); }
    // A summary (or the first part of one); those of an old generation are
    // kept in the cache but not shown.
    void summaryArrived(std::uint64_t generation, const std::string &path,
                        std::shared_ptr<const waveform::PeakSummary> s);

    // The sound to show (native path bytes); empty shows nothing.
    void showTrack(const std::string &path);
    // Where playback is in it.
    void setPlayhead(double seconds, double length, bool playing);

    // Scales a quiet sound up to its peak for display (the sound itself is
    // not changed).
    void setNormalised(bool on);
    bool isNormalised() const { return m_normalised; }
    // The factor the shown sound is drawn at.
    double displayGain() const;

    const std::string &track() const { return m_path; }
    std::shared_ptr<const waveform::PeakSummary> summary() const { return m_summary; }
    // The time scale's step, in seconds, for a strip width pixels wide
    // showing length seconds: ticks at least kTickSpacing apart, so there
    // are never more of them than the width has room for (0: none).
    static constexpr int kTickSpacing = waveform::kTickSpacing;
    static double timeScaleStep(int width, double length);
    double lengthSeconds() const;
    // Where the playhead is drawn now, in seconds.
    double playheadSeconds() const;

    // The region (Shift+drag selects one; Escape or a click outside it
    // clears it), shaded, with its start and length in a label a screen
    // reader reads. end <= start: none.
    void setRegion(double start, double end);
    bool hasRegion() const { return m_regionEnd > m_regionStart; }
    double regionStart() const { return m_regionStart; }
    double regionEnd() const { return m_regionEnd; }
    QString regionText() const;
    // The file of the region, which a drag from inside it hands on.
    void setRegionFile(const std::string &path) { m_regionFile = path; }
    const std::string &regionFile() const { return m_regionFile; }

signals:
    // The user clicked or dragged to seconds in the shown sound.
    void seekRequested(double seconds);
    // A summary (or more of one) has been drawn for the shown sound.
    void summaryShown();
    void regionChosen(double start, double end);
    void regionCleared();
    // The region's file was dropped on another program.
    void regionDraggedOut();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    QSize sizeHint() const override { return {400, 120}; }
    QSize minimumSizeHint() const override { return {100, 48}; }

private:
    void remember(const std::string &path, std::shared_ptr<const waveform::PeakSummary> summary);
    std::shared_ptr<const waveform::PeakSummary> cached(const std::string &path);
    double secondsAt(int x) const;
    int playheadX() const;
    // A frame of playback: only the strip between the playhead's last
    // place and its new one is painted again.
    void movePlayhead();
    void drawTimeScale(QPainter &p, double length, const QRect &dirty) const;
    static std::int64_t shownFrames(const waveform::PeakSummary &summary);

    std::string m_path;
    std::uint64_t m_generation = 0;
    std::shared_ptr<const waveform::PeakSummary> m_summary;
    std::list<std::pair<std::string, std::shared_ptr<const waveform::PeakSummary>>> m_cache; // newest first
    double m_reportedSeconds = 0;
    double m_reportedLength = 0;
    bool m_playing = false;
    bool m_normalised = true;
    QElapsedTimer m_sinceReport;
    QTimer m_frameTimer;
    int m_paintedHeadX = -1; // where the last paint drew the playhead
    QElapsedTimer m_sinceScrub;
    QElapsedTimer m_asked; // since the shown sound was asked for
    Requester m_requester;
    double m_regionStart = 0;
    double m_regionEnd = 0;
    bool m_choosing = false; // a Shift+drag under way
    double m_anchor = 0; // where it began, in seconds
    QPoint m_pressedAt;
    bool m_pressedInRegion = false;
    std::string m_regionFile;
    QLabel *m_regionLabel = nullptr;
    void showRegionLabel();
    void dragRegionOut();
};

} // namespace auralist
