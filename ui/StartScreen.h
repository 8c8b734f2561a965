#pragma once

#include <QWidget>

// The picture that stands in the middle of the screen while the program
// starts. A click on it closes it early.
class TStartScreen final : public QWidget {
public:
    TStartScreen();

    void Image1Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_image;
};

extern TStartScreen* StartScreen;

// Creates the start screen, centres it and paints it at once, so it shows
// while the start-up steps run without an event loop.
void ShowStartScreen();
void CloseStartScreen();
