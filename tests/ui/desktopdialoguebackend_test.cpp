#include "desktopdialoguebackend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

namespace
{

// Answers the next message box that appears by pressing `button`, and records what it saw.
struct AutoAnswer {
    QMessageBox::StandardButton button = QMessageBox::Ok;
    bool seen = false;
    bool onGuiThread = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;

    void Arm()
    {
        auto* timer = new QTimer();
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [this, timer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            onGuiThread = box->thread() == QApplication::instance()->thread() &&
                          QThread::currentThread() == box->thread();
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            if (button == QMessageBox::Escape)
                box->reject();
            else if (QAbstractButton* b = box->button(button))
                b->click();
            timer->stop();
            timer->deleteLater();
        });
        timer->start();
    }
};

struct BoxCase {
    const char* name;
    int buttons;
    int icon;
    QMessageBox::StandardButton press; // Escape: close the box
    int expected;
    QMessageBox::StandardButtons shown;
    QMessageBox::Icon shownIcon;
};

const BoxCase kCases[] = {
    {"notice, OK", kDialogueOk, kDialogueIconExclamation, QMessageBox::Ok, kDialogueIdOk,
     QMessageBox::Ok, QMessageBox::Warning},
    {"notice closed: OK", kDialogueOk, kDialogueIconInformation, QMessageBox::Escape, kDialogueIdOk,
     QMessageBox::Ok, QMessageBox::Information},
    {"confirmation confirmed", kDialogueOkCancel, kDialogueIconQuestion, QMessageBox::Ok,
     kDialogueIdOk, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Question},
    {"confirmation cancelled", kDialogueOkCancel, kDialogueIconQuestion, QMessageBox::Cancel,
     kDialogueIdCancel, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Question},
    {"confirmation closed: Cancel", kDialogueOkCancel, kDialogueIconStop, QMessageBox::Escape,
     kDialogueIdCancel, QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Critical},
    {"retry", kDialogueRetryCancel, kDialogueIconStop, QMessageBox::Retry, kDialogueIdRetry,
     QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Critical},
    {"retry cancelled", kDialogueRetryCancel, 0, QMessageBox::Cancel, kDialogueIdCancel,
     QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::NoIcon},
};

void Check(const BoxCase& c, const AutoAnswer& answer, int result, const char* where)
{
    EXPECT_EQ(result, c.expected) << c.name << where;
    EXPECT_TRUE(answer.seen) << c.name << where;
    EXPECT_TRUE(answer.onGuiThread) << c.name << where;
    EXPECT_EQ(answer.title, "Caption") << c.name << where;
    EXPECT_EQ(answer.text, "Some text") << c.name << where;
    EXPECT_EQ(answer.buttons, c.shown) << c.name << where;
    EXPECT_EQ(answer.icon, c.shownIcon) << c.name << where;
}

TEST(DesktopDialogueBackend, ShowsTheAskedBoxOnTheGuiThread)
{
    SetDialogueBackend(std::make_shared<DesktopDialogueBackend>());
    for (const BoxCase& c : kCases) {
        AutoAnswer answer;
        answer.button = c.press;
        answer.Arm();
        const int result = DialogueBox("Some text", "Caption", nullptr, c.buttons, c.icon);
        Check(c, answer, result, " (from the GUI thread)");
    }
    SetDialogueBackend(nullptr);
}

TEST(DesktopDialogueBackend, AWorkerThreadsBoxIsShownOnTheGuiThread)
{
    SetDialogueBackend(std::make_shared<DesktopDialogueBackend>());
    for (const BoxCase& c : kCases) {
        AutoAnswer answer;
        answer.button = c.press;
        answer.Arm();
        std::atomic<int> result{-1};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            result = DialogueBox("Some text", "Caption", nullptr, c.buttons, c.icon);
            done = true;
        });
        QElapsedTimer clock;
        clock.start();
        while (!done && clock.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        worker.join();
        Check(c, answer, result, " (from a worker)");
    }
    SetDialogueBackend(nullptr);
}

} // namespace
