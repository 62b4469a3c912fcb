#include "ui/image_and_text_cell.h"

#include <QPainter>

#include <cmath>

namespace auralist {

std::pair<QRectF, QRectF> ImageAndTextCell::divideFrame(const QRectF &frame) const
{
    if (m_image.isNull())
        return {QRectF(frame.x(), frame.y(), 0, frame.height()), frame};
    const double stripWidth = std::min<double>(m_image.width() + kMargin, frame.width());
    const QRectF strip(frame.x(), frame.y(), stripWidth, frame.height());
    const QRectF text(frame.x() + stripWidth, frame.y(), frame.width() - stripWidth, frame.height());
    return {strip, text};
}

QRectF ImageAndTextCell::imageFrameForCellFrame(const QRectF &frame) const
{
    if (m_image.isNull())
        return {};
    const float offset = std::ceil(static_cast<float>(frame.height() - m_image.height()) / 2.0F);
    return {frame.x() + kMargin, frame.y() + offset, double(m_image.width()), double(m_image.height())};
}

QPointF ImageAndTextCell::imagePointForCellFrame(const QRectF &frame, bool flipped) const
{
    const auto [strip, text] = divideFrame(frame);
    const auto h = static_cast<float>(text.height());
    const auto s = static_cast<float>(m_image.height());
    const float offset = flipped ? std::ceil((h + s) / 2.0F) : std::ceil((h - s) / 2.0F);
    return {strip.x() + kMargin, strip.y() + static_cast<double>(offset)};
}

void ImageAndTextCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (m_image.isNull()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const auto [strip, text] = divideFrame(option.rect);
    if (m_drawsBackground)
        painter->fillRect(strip, option.palette.base());
    // Qt views are flipped: the point is the image's lower-left corner.
    const QPointF corner = imagePointForCellFrame(option.rect, true);
    painter->drawPixmap(QPointF(corner.x(), corner.y() - m_image.height()), m_image);
    QStyleOptionViewItem textOption(option);
    textOption.rect = text.toRect();
    QStyledItemDelegate::paint(painter, textOption, index);
}

QSize ImageAndTextCell::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const int extra = static_cast<int>(m_image.isNull() ? kMargin : m_image.width() + kMargin);
    size.setWidth(size.width() + extra);
    return size;
}

void ImageAndTextCell::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                            const QModelIndex &index) const
{
    QStyleOptionViewItem textOption(option);
    textOption.rect = divideFrame(option.rect).second.toRect();
    QStyledItemDelegate::updateEditorGeometry(editor, textOption, index);
}

} // namespace auralist
