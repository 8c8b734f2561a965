#pragma once

#include <QColor>
#include <QWidget>

// An outlined filled circle: one of the six activity lamps.
class LampShape final : public QWidget {
    Q_OBJECT

public:
    static const QColor Out;  // silver
    static const QColor Lit;  // yellow

    explicit LampShape(QWidget* parent);

    void setLit(bool lit);
    bool isLit() const { return m_fill == Lit; }
    QColor fill() const { return m_fill; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill = Out;
};
