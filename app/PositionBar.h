// The position bar: a horizontal slider that tells its owner when the mouse presses and releases
// it, so that the owner seeks once, at the release, rather than at every step of a drag.
#pragma once

#include <QSlider>
#include <functional>

class TPositionBar : public QSlider {
public:
    using TMouseEvent = std::function<void()>;

    explicit TPositionBar(QWidget* parent = nullptr);

    // Called after the slider has handled the press or release itself.
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
