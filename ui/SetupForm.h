#pragma once

#include <QDialog>
#include "TypeToFind.h"

#include <QString>

#include <array>

class QComboBox;
class QListWidget;
class TMainForm;

// The modal dialog in which the six devices are chosen and the routing is
// edited. Every change takes effect at once; only the save button writes the
// options file. Esc or F2 closes it and keeps everything as it stands.
class TSetupForm final : public QDialog {
public:
    explicit TSetupForm(QWidget* owner);
    ~TSetupForm() override;

    void Input1ComboBoxChange() { inputChange(1); }
    void Input2ComboBoxChange() { inputChange(2); }
    void Input3ComboBoxChange() { inputChange(3); }
    void Out1ComboBoxChange() { outputChange(1); }
    void Out2ComboBoxChange() { outputChange(2); }
    void Out3ComboBoxChange() { outputChange(3); }
    void CheckListBox1ClickCheck() { ApplyRoutingChecks(); }
    void CheckListBox2ClickCheck() { ApplyRoutingChecks(); }
    void CheckListBox3ClickCheck() { ApplyRoutingChecks(); }
    void Button1Click();
    // Virtual key codes: 27 Esc and 113 F2 close the dialog.
    void FormKeyDown(int key);

    // The routing of all three inputs from the three check lists.
    void ApplyRoutingChecks();
    // The device lists as the engine has them now: devices that came, went
    // or came back.
    void RefreshDeviceLists();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void inputChange(int n);
    void outputChange(int n);
    // Picks the entry whose name starts with what was typed; true when the
    // list now shows another entry.
    bool typeToFind(QComboBox* list, const QString& text);

    std::array<QComboBox*, 3> m_inputs{};
    std::array<QComboBox*, 3> m_outputs{};
    std::array<QListWidget*, 3> m_checkLists{};
    TypeToFind m_typeToFind;
};

extern TSetupForm* SetupForm;

// Installed as the engine's hook for devices that come and go: an open
// dialog follows.
void FollowDeviceChanges();

// What F2 in the main window does: a fresh dialog, shown modally, destroyed
// when it closes.
void ShowSetupDialog(TMainForm* owner);
