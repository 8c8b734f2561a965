#include "MainForm.h"

#include "EngineHooks.h"
#include "WakeUpEvent.h"

TMainForm* MainForm = nullptr;

TMainForm::TMainForm(QWidget* parent) : QWidget(parent), m_wakeUp(new WakeUpEvent(this))
{
    setWindowTitle(QStringLiteral(" Zozuruvav - Roraridov"));
    SetWakeUpTarget(m_wakeUp);
}

TMainForm::~TMainForm()
{
    SetWakeUpTarget(nullptr);
}
