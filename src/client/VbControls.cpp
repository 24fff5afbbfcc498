#include "client/VbControls.h"

#include <QPainter>

CheckBox::CheckBox(const QString &caption, QWidget *parent) : QCheckBox(caption, parent)
{
    setTristate(true);
}

int CheckBox::Value() const
{
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void CheckBox::setValue(int value)
{
    setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void CheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

Shape::Shape(QWidget *parent) : QWidget(parent) {}

void Shape::setFillColor(qint32 rgb)
{
    m_fillColor = rgb;
    update();
}

void Shape::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fill(m_fillColor & 0xFF, (m_fillColor >> 8) & 0xFF, (m_fillColor >> 16) & 0xFF);
    p.setBrush(fill);
    p.setPen(Qt::black);
    const int d = qMin(width(), height()) - 1;
    p.drawEllipse(0, 0, d, d);
}
