#pragma once
// A horizontal bar the user drags up or down between two panes. While dragged it draws its track;
// on release it reports how far its middle moved. It never goes further than `maxUp` pixels above
// or `maxDown` pixels below the middle of the place where it was created.

#include <QWidget>

class QRubberBand;

namespace vantor {

class SplitterBar final : public QWidget {
    Q_OBJECT
public:
    SplitterBar(int maxUp, int maxDown, QWidget* parent);

    // Puts the bar at its starting place; the limits are measured from this place's middle.
    void setHome(const QRect& rect);
    // How far the bar's middle now lies below its home (negative: above).
    int offset() const { return m_offset; }
    // Moves the bar by `delta` within its limits, as a drag would; returns the movement made.
    int moveBy(int delta);

signals:
    void moved(int delta);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int clampOffset(int offset) const;

    const int m_maxUp;
    const int m_maxDown;
    QRect m_home;
    int m_offset = 0;
    bool m_dragging = false;
    int m_pressY = 0;  // global y of the press
    int m_dragOffset = 0;  // offset when the drag began
    int m_trackOffset = 0;  // where the dragged track is drawn
    QRubberBand* m_track = nullptr;
};

}  // namespace vantor
