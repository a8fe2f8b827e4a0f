#include "ui/SlideAway.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace vantor {

namespace {
constexpr int slideStepPx = 30;
constexpr int slideStepMs = 15;
}  // namespace

SlideAway::SlideAway(QWidget* window)
    : QObject(window)
    , m_window(window)
{
    m_timer.setInterval(slideStepMs);
    connect(&m_timer, &QTimer::timeout, this, &SlideAway::step);
}

void SlideAway::start(std::function<void()> done)
{
    if (m_timer.isActive())
        return;
    m_done = std::move(done);
    m_home = m_window->geometry();
    m_y = m_home.top();
    step();
    m_timer.start();
}

void SlideAway::step()
{
    const QScreen* s = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen();
    const int screenHeight = s ? s->geometry().bottom() + 1 : 0;
    if (m_y >= screenHeight) {
        m_timer.stop();
        if (m_done)
            m_done();
        m_window->setGeometry(m_home);
        return;
    }
    // geometry() is the client area, move() places the frame: keep the frame's offset.
    m_window->move(m_home.left() - (m_window->geometry().left() - m_window->pos().x()),
                   m_y - (m_window->geometry().top() - m_window->pos().y()));
    m_y += slideStepPx;
}

}  // namespace vantor
