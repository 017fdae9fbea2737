// The position bar: a horizontal slider that tells its owner when the mouse presses and releases
// it, so that the owner seeks once, at the release, rather than at every step of a drag.
#pragma once

#include <QSlider>
#include <functional>

class TTrackBarEx : public QSlider {
public:
    using TMouseEvent = std::function<void()>;

    explicit TTrackBarEx(QWidget* parent = nullptr);

    // Called after the slider has handled the press or release itself.
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;

    // Public, so that tests and owners can press and release the bar as the mouse does.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
