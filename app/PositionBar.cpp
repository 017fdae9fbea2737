#include "app/PositionBar.h"

#include <QMouseEvent>

TPositionBar::TPositionBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void TPositionBar::mousePressEvent(QMouseEvent* event)
{
    QSlider::mousePressEvent(event);
    if (OnMouseDown) OnMouseDown();
}

void TPositionBar::mouseReleaseEvent(QMouseEvent* event)
{
    QSlider::mouseReleaseEvent(event);
    if (OnMouseUp) OnMouseUp();
}
