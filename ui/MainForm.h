#pragma once

#include <QWidget>

class WakeUpEvent;

// The main window: the target of the wake-ups of the message path.
class TMainForm final : public QWidget {
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

private:
    WakeUpEvent* m_wakeUp;
};

extern TMainForm* MainForm;
