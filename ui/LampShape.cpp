#include "LampShape.h"

#include <QPainter>

const QColor LampShape::Out(192, 192, 192);
const QColor LampShape::Lit(255, 255, 0);

LampShape::LampShape(QWidget* parent) : QWidget(parent)
{
    setEnabled(false);
}

void LampShape::setLit(bool lit)
{
    const QColor fill = lit ? Lit : Out;
    if (fill == m_fill)
        return;
    m_fill = fill;
    update();
}

void LampShape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_fill);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
