#include "ui/waveform_strip.h"

#include <QApplication>
#include <QDrag>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "core/diagnostics.h"
#include "core/uri_list.h"

namespace auralist {

namespace {

constexpr int kFrameMilliseconds = 16;
constexpr int kScrubMilliseconds = 40;

} // namespace

WaveformStrip::WaveformStrip(QWidget *parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Waveform"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setCursor(Qt::IBeamCursor);
    m_frameTimer.setInterval(kFrameMilliseconds);
    connect(&m_frameTimer, &QTimer::timeout, this, &WaveformStrip::movePlayhead);
}

WaveformStrip::~WaveformStrip() = default;

void WaveformStrip::showTrack(const std::string &path)
{
    if (path == m_path)
        return;
    m_path = path;
    m_summary.reset();
    setRegion(0, 0);
    ++m_generation;
    m_asked.start();
    if (!path.empty()) {
        m_summary = cached(path);
        if (!m_summary || !m_summary->complete) {
            if (m_requester)
                m_requester(m_generation, path);
        } else
            emit summaryShown();
    }
    update();
}

void WaveformStrip::summaryArrived(std::uint64_t generation, const std::string &path,
                                   std::shared_ptr<const waveform::PeakSummary> summary)
{
    if (summary->complete)
        remember(path, summary);
    // A late answer about a sound no longer shown is only kept.
    if (generation != m_generation || path != m_path)
        return;
    m_summary = std::move(summary);
    repaint();
    if (m_summary->complete)
        debugLog("waveform drawn " + std::to_string(m_asked.elapsed()) + " ms after it was asked for");
    emit summaryShown();
}

void WaveformStrip::remember(const std::string &path, std::shared_ptr<const waveform::PeakSummary> summary)
{
    m_cache.remove_if([&](const auto &entry) { return entry.first == path; });
    m_cache.emplace_front(path, std::move(summary));
    std::size_t bytes = 0;
    for (const auto &entry : m_cache)
        bytes += entry.second->bytes();
    while (m_cache.size() > 1 && (m_cache.size() > kCacheEntries || bytes > kCacheBytes)) {
        bytes -= m_cache.back().second->bytes();
        m_cache.pop_back();
    }
}

std::shared_ptr<const waveform::PeakSummary> WaveformStrip::cached(const std::string &path)
{
    const auto it
        = std::find_if(m_cache.begin(), m_cache.end(), [&](const auto &entry) { return entry.first == path; });
    if (it == m_cache.end())
        return nullptr;
    m_cache.splice(m_cache.begin(), m_cache, it);
    return m_cache.front().second;
}

void WaveformStrip::setPlayhead(double seconds, double length, bool playing)
{
    m_reportedSeconds = seconds;
    m_reportedLength = length;
    m_playing = playing;
    m_sinceReport.start();
    if (playing && !m_frameTimer.isActive())
        m_frameTimer.start();
    else if (!playing)
        m_frameTimer.stop();
    update();
}

void WaveformStrip::setNormalised(bool on)
{
    m_normalised = on;
    update();
}

double WaveformStrip::displayGain() const
{
    // Up to 60 dB: a file of near silence shows as the noise it is, not
    // as a full-scale sound.
    if (!m_normalised || !m_summary || m_summary->peak <= 0)
        return 1.0;
    return std::clamp(1.0 / m_summary->peak, 1.0, 1000.0);
}

// The header's length is a claim until the whole file has been read;
// then what was there is the length.
std::int64_t WaveformStrip::shownFrames(const waveform::PeakSummary &summary)
{
    return summary.complete ? summary.frames : std::max(summary.lengthFrames, summary.frames);
}

double WaveformStrip::lengthSeconds() const
{
    if (m_summary && m_summary->sampleRate > 0) {
        return double(shownFrames(*m_summary)) / m_summary->sampleRate;
    }
    return m_reportedLength;
}

double WaveformStrip::playheadSeconds() const
{
    if (!m_playing)
        return m_reportedSeconds;
    // Between the engine's reports the playhead runs on by the clock.
    const double ahead = m_sinceReport.isValid() ? m_sinceReport.elapsed() / 1000.0 : 0.0;
    return std::min(m_reportedSeconds + std::min(ahead, 0.2), std::max(lengthSeconds(), m_reportedLength));
}

double WaveformStrip::secondsAt(int x) const
{
    return std::clamp(double(x) / std::max(1, width()), 0.0, 1.0) * lengthSeconds();
}

void WaveformStrip::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || lengthSeconds() <= 0)
        return;
    const double at = secondsAt(int(event->position().x()));
    if (event->modifiers() & Qt::ShiftModifier) {
        // Focus for Escape, which clears the region.
        setFocus(Qt::MouseFocusReason);
        m_choosing = true;
        m_anchor = at;
        setRegion(at, at);
        return;
    }
    m_pressedAt = event->position().toPoint();
    m_pressedInRegion = hasRegion() && at >= m_regionStart && at <= m_regionEnd;
    if (hasRegion() && !m_pressedInRegion) {
        setRegion(0, 0);
        emit regionCleared();
    }
    m_sinceScrub.start();
    emit seekRequested(at);
}

void WaveformStrip::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_choosing)
        return;
    m_choosing = false;
    if (hasRegion())
        emit regionChosen(m_regionStart, m_regionEnd);
    else
        emit regionCleared();
}

void WaveformStrip::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && hasRegion()) {
        setRegion(0, 0);
        emit regionCleared();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WaveformStrip::setRegion(double start, double end)
{
    if (start > end)
        std::swap(start, end);
    m_regionStart = start;
    m_regionEnd = end;
    if (!hasRegion())
        m_regionFile.clear();
    showRegionLabel();
    update();
}

QString WaveformStrip::regionText() const
{
    if (!hasRegion())
        return {};
    return QStringLiteral("Region from %1 s, %2 s long")
        .arg(m_regionStart, 0, 'f', 3)
        .arg(m_regionEnd - m_regionStart, 0, 'f', 3);
}

void WaveformStrip::showRegionLabel()
{
    if (!m_regionLabel) {
        m_regionLabel = new QLabel(this);
        m_regionLabel->setObjectName(QStringLiteral("regionLabel"));
        m_regionLabel->setAccessibleName(QStringLiteral("Region"));
        m_regionLabel->setTextFormat(Qt::PlainText);
        m_regionLabel->setAutoFillBackground(true);
        m_regionLabel->setMargin(2);
    }
    m_regionLabel->setText(regionText());
    m_regionLabel->adjustSize();
    m_regionLabel->move(4, 4);
    m_regionLabel->setVisible(hasRegion());
    setAccessibleDescription(regionText());
}

void WaveformStrip::dragRegionOut()
{
    if (m_regionFile.empty())
        return;
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(kUriListMimeType), QByteArray::fromStdString(uriListForPaths({m_regionFile})));
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    if (drag->exec(Qt::CopyAction) != Qt::IgnoreAction)
        emit regionDraggedOut();
}

void WaveformStrip::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton) || lengthSeconds() <= 0)
        return;
    if (m_choosing) {
        setRegion(m_anchor, secondsAt(int(event->position().x())));
        return;
    }
    // A drag from inside the region takes its file along.
    if (m_pressedInRegion && !m_regionFile.empty()
        && (event->position().toPoint() - m_pressedAt).manhattanLength() >= QApplication::startDragDistance()) {
        m_pressedInRegion = false;
        dragRegionOut();
        return;
    }
    if (m_sinceScrub.isValid() && m_sinceScrub.elapsed() < kScrubMilliseconds)
        return;
    m_sinceScrub.start();
    emit seekRequested(secondsAt(int(event->position().x())));
}

double WaveformStrip::timeScaleStep(int width, double length)
{
    return waveform::timeScaleStep(width, length);
}

// A light tick every 0.1, 0.5, 1, 2, 5, 10, 30 or 60 s (or more), at least
// 64 px apart, each with its time beside it.
void WaveformStrip::drawTimeScale(QPainter &p, double length, const QRect &dirty) const
{
    const int w = width();
    const int h = height();
    QColor tick = palette().color(QPalette::Text);
    tick.setAlpha(60);
    const double step = timeScaleStep(w, length);
    if (step <= 0)
        return;
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    p.setFont(small);
    const QFontMetrics metrics(small);
    const int textHeight = metrics.height();
    QColor label = palette().color(QPalette::Text);
    label.setAlpha(170);
    for (int i = 1;; ++i) {
        const double t = i * step;
        if (t >= length)
            break;
        const int x = int(t / length * w);
        if (x > dirty.right())
            break;
        QString text;
        if (t < 60) {
            text = QString::number(t, 'g', 3) + QStringLiteral(" s");
        } else {
            const auto whole = static_cast<long long>(std::lround(t));
            text = QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
        }
        const QRect box(x + 2, h - textHeight - 1, metrics.horizontalAdvance(text) + 4, textHeight);
        if (x < dirty.left() && !box.intersects(dirty))
            continue;
        p.setPen(tick);
        p.drawLine(x, h - 6, x, h);
        QColor under = palette().color(QPalette::Base);
        under.setAlpha(200);
        p.fillRect(box, under);
        p.setPen(label);
        p.drawText(box, Qt::AlignCenter, text);
    }
}

int WaveformStrip::playheadX() const
{
    const double length = lengthSeconds();
    return length > 0 ? int(std::lround(playheadSeconds() / length * width())) : 0;
}

void WaveformStrip::movePlayhead()
{
    const int headX = playheadX();
    if (headX == m_paintedHeadX)
        return;
    if (m_paintedHeadX < 0) {
        update();
        return;
    }
    // The line is two pixels wide, and the played shade ends at it.
    const int from = std::min(headX, m_paintedHeadX) - 2;
    const int to = std::max(headX, m_paintedHeadX) + 2;
    update(QRect(from, 0, to - from + 1, height()));
}

void WaveformStrip::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    const QPalette &pal = palette();
    p.fillRect(rect(), pal.base());
    const int w = width();
    const int h = height();
    const double length = lengthSeconds();
    if (!m_summary || m_summary->sampleRate <= 0 || m_summary->levels.empty() || m_summary->levels[0].empty()) {
        if (m_summary && !m_summary->error.empty()) {
            p.setPen(pal.color(QPalette::Disabled, QPalette::Text));
            p.drawText(rect(), Qt::AlignCenter, QString::fromStdString(m_summary->error));
        }
        return;
    }
    const double playhead = playheadSeconds();
    const int headX = playheadX();
    m_paintedHeadX = headX;
    if (m_playing || playhead > 0) {
        QColor played = pal.color(QPalette::Highlight);
        played.setAlpha(40);
        p.fillRect(QRect(0, 0, headX, h), played);
    }
    if (hasRegion() && length > 0) {
        QColor shade = pal.color(QPalette::Highlight);
        shade.setAlpha(90);
        const int from = int(std::lround(m_regionStart / length * w));
        const int to = int(std::lround(m_regionEnd / length * w));
        p.fillRect(QRect(from, 0, std::max(1, to - from), h), shade);
    }
    // Peaks: the lowest and highest sample under each pixel column.
    const waveform::PeakSummary &s = *m_summary;
    const auto total = static_cast<double>(shownFrames(s));
    const double mid = h / 2.0;
    const double half = h / 2.0 - 2;
    const auto gain = static_cast<float>(displayGain());
    p.setPen(pal.color(QPalette::WindowText));
    const bool fine = total / w < waveform::PeakSummary::kBlockFrames && !s.fine.empty();
    const QRect dirty = event->rect();
    for (int x = std::max(0, dirty.left()); x < std::min(w, dirty.right() + 1); ++x) {
        const auto from = static_cast<std::int64_t>(x * total / w);
        const auto to = static_cast<std::int64_t>((x + 1) * total / w);
        if (from >= s.frames)
            break;
        // Drawn from the frames, each column reaches the next one's first
        // frame, so the line runs on where a frame is wider than a pixel.
        const waveform::PeakSummary::Peak peak = s.peakOf(from, std::max(to, from + 1) + (fine ? 1 : 0));
        const int top = int(mid - std::clamp(peak.high * gain, -1.0F, 1.0F) * half);
        const int bottom = int(mid - std::clamp(peak.low * gain, -1.0F, 1.0F) * half);
        p.drawLine(x, top, x, std::max(top, bottom));
    }
    // The scale over the peaks, so that it reads on a loud sound too.
    if (length > 0)
        drawTimeScale(p, length, dirty);
    if (m_playing || playhead > 0) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 2));
        p.drawLine(headX, 0, headX, h);
    }
}

} // namespace auralist
