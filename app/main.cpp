#include "ApplicationMessageFilter.h"
#include "MainForm.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    TMainForm form;
    MainForm = &form;
    ApplicationMessageFilter filter(&form);
    app.installEventFilter(&filter);
    form.show();
    const int result = app.exec();
    MainForm = nullptr;
    return result;
}
