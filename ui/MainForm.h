#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class LampShape;
class QCheckBox;
class WakeUpEvent;

// The main window: shows the routing read-only and the six lamps, puts the
// lamps out on its timer, takes Esc and F2, and is the target of the
// wake-ups. Closing it ends the main loop but leaves it on the screen until
// the program has shut down.
class TMainForm final : public QWidget {
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Sets the fifteen check boxes from the settings.
    void RefreshRoutingDisplay();
    // Virtual key codes: 27 Esc, 113 F2; modifiers are not looked at.
    void FormKeyDown(int key);
    void TimerTimer();

    void setLamp(int port, bool lit);

    // What F2 does: builds, shows and destroys the setup dialog.
    static void (*OpenSetupDialog)(TMainForm* owner);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void build();
    // On the window's tooltip: where a user finds the count without a box
    // coming up in the middle of playing.
    void showLostMessages();

    WakeUpEvent* m_wakeUp;
    std::array<LampShape*, 6> m_lamps{};  // port order
    std::array<QCheckBox*, 15> m_checkBoxes{};  // CheckBox1 .. CheckBox15
    bool m_centred = false;
    uint64_t m_lostShown = UINT64_MAX;
};

extern TMainForm* MainForm;
