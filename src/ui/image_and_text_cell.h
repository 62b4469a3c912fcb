#pragma once

#include <QPixmap>
#include <QRectF>
#include <QStyledItemDelegate>

namespace auralist {

// Draws an optional image at the left of a cell, centred vertically in a
// strip 3.0 px wider than the image, and the text in the rest. A row marked
// as one that cannot play shows a warning sign as its image, the playing
// row a speaker.
class ImageAndTextCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr double kMargin = 3.0;

    using QStyledItemDelegate::QStyledItemDelegate;

    void setImage(const QPixmap &image) { m_image = image; }
    const QPixmap &image() const { return m_image; }
    void setDrawsBackground(bool on) { m_drawsBackground = on; }

    // Where the image goes in a view whose y grows upwards; the zero
    // rectangle without an image.
    QRectF imageFrameForCellFrame(const QRectF &frame) const;
    // The image's corner point for compositing: its lower-left corner in
    // the view's coordinates, flipped (y down) or not.
    QPointF imagePointForCellFrame(const QRectF &frame, bool flipped) const;
    // The image strip and the text frame.
    std::pair<QRectF, QRectF> divideFrame(const QRectF &frame) const;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

private:
    static std::pair<QRectF, QRectF> divideFrame(const QRectF &frame, const QPixmap &image);
    static QPointF imagePointForCellFrame(const QRectF &frame, bool flipped, const QPixmap &image);
    // The row's own mark (a sound that cannot play) or else the cell's image.
    QPixmap imageFor(const QModelIndex &index) const;

    QPixmap m_image;
    mutable QPixmap m_unplayableImage;
    mutable QPixmap m_playingImage;
    bool m_drawsBackground = false;
};

} // namespace auralist
