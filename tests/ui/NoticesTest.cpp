#include "QtPrinters.h"
#include "EngineHooks.h"
#include "NoticeCatcher.h"
#include "Notices.h"
#include "OptionsFile.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

TEST(Title, IsTheFileNameUpToItsFirstDotInTitleCase)
{
    EXPECT_EQ(QStringLiteral("Roraridov"), TitleFromFileName(QStringLiteral("Roraridov.exe")));
    EXPECT_EQ(QStringLiteral("Roraridov"), TitleFromFileName(QStringLiteral("RORARIDOV.EXE")));
    EXPECT_EQ(QStringLiteral("Roraridov"), TitleFromFileName(QStringLiteral("Roraridov")));
    EXPECT_EQ(QStringLiteral("my"), TitleFromFileName(QStringLiteral("my.Router.exe")));
}

TEST(Notices, AnErrorNoticeHasOneButtonNoIconAndStaysOnTop)
{
    bool checked = false;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(nullptr, box);
        EXPECT_EQ(QStringLiteral("Errorr!"), box->windowTitle());
        EXPECT_EQ(QStringLiteral("Options file not exist!  Initializing With Deffault Values!"), box->text());
        EXPECT_EQ(QMessageBox::NoIcon, box->icon());
        EXPECT_EQ(1, box->buttons().size());
        EXPECT_EQ(Qt::ApplicationModal, box->windowModality());
        EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
        EXPECT_EQ(nullptr, box->parentWidget());
        EXPECT_TRUE(NoticeShowing());
        checked = true;
        box->button(QMessageBox::Ok)->click();
    });
    ShowErrorNotice("Options file not exist!  Initializing With Deffault Values!", "Errorr!");
    EXPECT_TRUE(checked);
    EXPECT_FALSE(NoticeShowing());
}

TEST(Notices, AFailureNoticeHasTheStopIconTheTitleAndAFullStop)
{
    NoticeCatcher catcher;
    FailureNotice(QStringLiteral("Cannot create file Roraridov.opt"));
    ASSERT_EQ(1u, catcher.shown.size());
    EXPECT_EQ(QStringLiteral("Cannot create file Roraridov.opt."), catcher.shown[0].text);
    EXPECT_EQ(QMessageBox::Critical, catcher.shown[0].icon);
    EXPECT_EQ(ApplicationTitle(), catcher.shown[0].caption);
    EXPECT_EQ(QStringLiteral("ui_tests"), ApplicationTitle());
}

// An object whose event handler raises, as a handler that saves may.
class Raising final : public QObject {
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User)
            throw FileFailure("Cannot create file Roraridov.opt");
        return QObject::event(event);
    }
};

TEST(Notices, AFailureRaisedInAnEventHandlerIsShownAndTheLoopGoesOn)
{
    NoticeCatcher catcher;
    Raising raising;
    QEventLoop loop;
    bool after = false;
    QCoreApplication::postEvent(&raising, new QEvent(QEvent::User));
    QTimer::singleShot(200, [&] {
        after = true;
        loop.quit();
    });
    loop.exec();
    ASSERT_EQ(1u, catcher.shown.size());
    EXPECT_EQ(QStringLiteral("Cannot create file Roraridov.opt."), catcher.shown[0].text);
    EXPECT_EQ(QMessageBox::Critical, catcher.shown[0].icon);
    EXPECT_TRUE(after);
}

TEST(Notices, AHandlerRunThroughRunHandlerShowsItsFailure)
{
    NoticeCatcher catcher;
    EXPECT_NO_THROW(RunHandler([] { throw FileFailure("Cannot create file Roraridov.opt"); }));
    ASSERT_EQ(1u, catcher.shown.size());
    EXPECT_EQ(QStringLiteral("Cannot create file Roraridov.opt."), catcher.shown[0].text);
}

}  // namespace
