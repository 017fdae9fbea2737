#include "app/TrkBarEx.h"

#include <QMouseEvent>

TTrackBarEx::TTrackBarEx(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void TTrackBarEx::mousePressEvent(QMouseEvent* event)
{
    QSlider::mousePressEvent(event);
    if (OnMouseDown) OnMouseDown();
}

void TTrackBarEx::mouseReleaseEvent(QMouseEvent* event)
{
    QSlider::mouseReleaseEvent(event);
    if (OnMouseUp) OnMouseUp();
}
