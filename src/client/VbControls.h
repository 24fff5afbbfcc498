#pragma once

#include <QCheckBox>
#include <QColor>
#include <QWidget>

// A check box with the three values the configuration stores: 0 cleared, 1 checked,
// 2 grayed. A click toggles between cleared and checked only.
class CheckBox : public QCheckBox
{
    Q_OBJECT

public:
    explicit CheckBox(const QString &caption, QWidget *parent = nullptr);

    int Value() const;
    void setValue(int value); // 0, 1 or 2

protected:
    void nextCheckState() override;
};

// The lock-status lamp: a filled circle whose colour is a Windows RGB value
// (0x00BBGGRR: 255 red, 65280 green, 65535 yellow).
class Shape : public QWidget
{
    Q_OBJECT

public:
    explicit Shape(QWidget *parent = nullptr);

    qint32 FillColor() const { return m_fillColor; }
    void setFillColor(qint32 rgb);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint32 m_fillColor = 65280;
};
