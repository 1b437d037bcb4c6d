#pragma once

// What the 3D notifier's tests share: a private settings store with the program's defaults,
// the message boxes recorded instead of shown, a plain-coloured "desktop" window under the
// notifier, and waiting for the window system without timing anything.
#include "dialoguebox.h"
#include "notifier3dwindow.h"
#include "support/component.h"
#include "support/tempdir.h"

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QRasterWindow>
#include <QScreen>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Keeps the texts of the message boxes instead of showing them.
class RecordingDialogues : public DialogueBackend
{
public:
    int Show(const std::string& text, const std::string&, void*, int, int) override
    {
        std::lock_guard lock(mutex_);
        texts_.push_back(text);
        return kDialogueIdOk;
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

// A window filling the screen with one colour on each half, below everything else.
class DesktopBackdrop : public QRasterWindow
{
public:
    DesktopBackdrop(QColor left, QColor right) : left_(left), right_(right)
    {
        setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint);
        setProperty("_q_showWithoutActivating", true);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
    }

    // Mouse presses that reached the desktop.
    int presses = 0;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override { ++presses; }

private:
    QColor left_, right_;
};

class Notifier3dTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Processes events until `done` or about `limitMs` have passed; the result of `done`.
    static bool WaitFor(const std::function<bool()>& done, int limitMs = 5000);
    // Processes events for `ms` milliseconds.
    static void Pump(int ms);
    // Stores one option value before the window reads them.
    static void StoreDword(const char* name, uint32_t value);
    static void StoreString(const char* name, const std::string& value);
    // A created, shown and drawn window; null (with a failure) when it did not come up.
    std::unique_ptr<CNotifier3dWindow> MakeWindow(CNotifier3dWindow::Hooks hooks = {});
    // What the screen shows where `window` is.
    static QImage Grab(const CNotifier3dWindow& window);
    // Pixels of `a` and `b` (same size) that differ in the rectangle of `area`.
    static int Differing(const QImage& a, const QImage& b, const QRect& area);
    // Pixels of `image` within `area` of colour `colour`.
    static int Matching(const QImage& image, const QRect& area, QColor colour);
    // Makes the window active and then inactive through the window system.
    void Deactivate(CNotifier3dWindow& window);
    std::vector<std::string> Messages() { return dialogues_->Texts(); }
    // Clicks the left button at a screen point through the X server (xdotool); false when
    // xdotool is missing.
    static bool ClickAt(QPoint global);

    TempDir dir_;
    std::unique_ptr<ScopedEnv> configHome_;
    std::unique_ptr<ScopedEnv> configDirs_;
    std::shared_ptr<RecordingDialogues> dialogues_;
    std::unique_ptr<DesktopBackdrop> backdrop_;
    std::unique_ptr<QRasterWindow> elsewhere_; // takes the focus away
};
