#include "ui/SplitterBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>

#include <algorithm>

namespace vantor {

SplitterBar::SplitterBar(int maxUp, int maxDown, QWidget* parent)
    : QWidget(parent)
    , m_maxUp(maxUp)
    , m_maxDown(maxDown)
{
    setCursor(Qt::SizeVerCursor);
    setAttribute(Qt::WA_Hover);
}

void SplitterBar::setHome(const QRect& rect)
{
    m_home = rect;
    m_offset = 0;
    setGeometry(rect);
}

int SplitterBar::clampOffset(int offset) const
{
    return std::clamp(offset, -m_maxUp, m_maxDown);
}

int SplitterBar::moveBy(int delta)
{
    const int target = clampOffset(m_offset + delta);
    const int made = target - m_offset;
    if (made == 0)
        return 0;
    m_offset = target;
    setGeometry(m_home.translated(0, m_offset));
    emit moved(made);
    return made;
}

void SplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_pressY = event->globalPosition().toPoint().y();
    m_dragOffset = m_offset;
    m_trackOffset = m_offset;
    if (!m_track)
        m_track = new QRubberBand(QRubberBand::Line, parentWidget());
    m_track->setGeometry(m_home.translated(0, m_trackOffset));
    m_track->show();
}

void SplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    m_trackOffset = clampOffset(m_dragOffset + event->globalPosition().toPoint().y() - m_pressY);
    m_track->setGeometry(m_home.translated(0, m_trackOffset));
}

void SplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    m_track->hide();
    moveBy(m_trackOffset - m_offset);
}

void SplitterBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QColor base = palette().color(QPalette::Window);
    p.fillRect(rect(), underMouse() ? base.darker(115) : base.darker(106));
    // Three grip dots in the middle say "drag me".
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::Mid));
    const int cy = height() / 2;
    for (int i = -1; i <= 1; ++i)
        p.drawEllipse(QPoint(width() / 2 + i * 6, cy), 1, 1);
}

}  // namespace vantor
