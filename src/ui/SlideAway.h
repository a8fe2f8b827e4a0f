#pragma once
// The slide-away of "Hide": the window moves down off its screen in small steps, then `done`
// runs (the window hides itself) and the window is put back where it was, hidden, so that it
// comes back in its place.

#include <QObject>
#include <QRect>
#include <QTimer>

#include <functional>

class QWidget;

namespace vantor {

class SlideAway final : public QObject {
    Q_OBJECT
public:
    explicit SlideAway(QWidget* window);

    // Starts sliding `window` away unless it already is; `done` runs when it is off the screen.
    void start(std::function<void()> done);
    // Ends a slide under way where it is; `done` does not run.
    void stop() { m_timer.stop(); }
    bool active() const { return m_timer.isActive(); }

private:
    void step();

    QWidget* m_window;
    QTimer m_timer;
    QRect m_home;
    int m_y = 0;
    std::function<void()> m_done;
};

}  // namespace vantor
