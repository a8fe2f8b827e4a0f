#include "ui/ActivityIndicator.h"

#include <QPainter>

#include <cmath>

namespace vantor {

namespace {
constexpr int stepCount = 8;
}

ActivityIndicator::ActivityIndicator(QWidget* parent)
    : QWidget(parent)
{
    m_timer.setInterval(120);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % stepCount;
        update();
    });
}

void ActivityIndicator::setRunning(bool running)
{
    if (running)
        m_timer.start();
    else
        m_timer.stop();
}

void ActivityIndicator::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    // A ring of dots, the brightest one going round.
    const QPointF c = r.center();
    const qreal radius = std::min(r.width(), r.height()) / 2 - 1;
    for (int i = 0; i < stepCount; ++i) {
        const qreal angle = 2 * 3.14159265 * i / stepCount;
        const int age = (m_step - i + stepCount) % stepCount;
        QColor dot(40, 90, 200);
        dot.setAlphaF(1.0 - 0.11 * age);
        p.setPen(Qt::NoPen);
        p.setBrush(dot);
        p.drawEllipse(c + QPointF(radius * std::cos(angle), radius * std::sin(angle)), 1.3, 1.3);
    }
}

}  // namespace vantor
