#pragma once
// A small looping animation beside the caption that says the monitor is running.

#include <QTimer>
#include <QWidget>

namespace vantor {

class ActivityIndicator final : public QWidget {
    Q_OBJECT
public:
    explicit ActivityIndicator(QWidget* parent = nullptr);
    void setRunning(bool running);
    bool isRunning() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_step = 0;
};

}  // namespace vantor
