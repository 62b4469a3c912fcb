#include "ui/image_and_text_cell.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <cmath>

#include "core/table_controller.h"

namespace auralist {

namespace {

// A pixmap's size in the view's units: at 2x scale its pixels are twice as
// many as the room it takes.
double widthOf(const QPixmap &image)
{
    return image.deviceIndependentSize().width();
}

double heightOf(const QPixmap &image)
{
    return image.deviceIndependentSize().height();
}

} // namespace

std::pair<QRectF, QRectF> ImageAndTextCell::divideFrame(const QRectF &frame) const
{
    return divideFrame(frame, m_image);
}

std::pair<QRectF, QRectF> ImageAndTextCell::divideFrame(const QRectF &frame, const QPixmap &image)
{
    if (image.isNull())
        return {QRectF(frame.x(), frame.y(), 0, frame.height()), frame};
    const double stripWidth = std::min<double>(widthOf(image) + kMargin, frame.width());
    const QRectF strip(frame.x(), frame.y(), stripWidth, frame.height());
    const QRectF text(frame.x() + stripWidth, frame.y(), frame.width() - stripWidth, frame.height());
    return {strip, text};
}

QRectF ImageAndTextCell::imageFrameForCellFrame(const QRectF &frame) const
{
    if (m_image.isNull())
        return {};
    const float offset = std::ceil(static_cast<float>(frame.height() - heightOf(m_image)) / 2.0F);
    return {frame.x() + kMargin, frame.y() + offset, widthOf(m_image), heightOf(m_image)};
}

QPointF ImageAndTextCell::imagePointForCellFrame(const QRectF &frame, bool flipped) const
{
    return imagePointForCellFrame(frame, flipped, m_image);
}

QPointF ImageAndTextCell::imagePointForCellFrame(const QRectF &frame, bool flipped, const QPixmap &image)
{
    const auto [strip, text] = divideFrame(frame, image);
    const auto h = static_cast<float>(text.height());
    const auto s = static_cast<float>(heightOf(image));
    const float offset = flipped ? std::ceil((h + s) / 2.0F) : std::ceil((h - s) / 2.0F);
    return {strip.x() + kMargin, strip.y() + static_cast<double>(offset)};
}

QPixmap ImageAndTextCell::imageFor(const QModelIndex &index) const
{
    const auto status = static_cast<TableController::RowStatus>(index.data(TableController::StatusRole).toInt());
    const auto icon = [](QPixmap &cache, QStyle::StandardPixmap which) {
        if (cache.isNull()) {
            const int side = QFontMetrics(QApplication::font()).height() - 2;
            cache = QApplication::style()->standardIcon(which).pixmap(side, side);
        }
        return cache;
    };
    if (status == TableController::RowStatus::Unplayable)
        return icon(m_unplayableImage, QStyle::SP_MessageBoxWarning);
    if (status == TableController::RowStatus::Playing)
        return icon(m_playingImage, QStyle::SP_MediaVolume);
    return m_image;
}

void ImageAndTextCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QPixmap image = imageFor(index);
    if (image.isNull()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const auto [strip, text] = divideFrame(option.rect, image);
    if (m_drawsBackground)
        painter->fillRect(strip, option.palette.base());
    // Qt views are flipped: the point is the image's lower-left corner.
    const QPointF corner = imagePointForCellFrame(option.rect, true, image);
    painter->drawPixmap(QPointF(corner.x(), corner.y() - heightOf(image)), image);
    QStyleOptionViewItem textOption(option);
    textOption.rect = text.toRect();
    QStyledItemDelegate::paint(painter, textOption, index);
}

QSize ImageAndTextCell::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const int extra = static_cast<int>(m_image.isNull() ? kMargin : widthOf(m_image) + kMargin);
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
