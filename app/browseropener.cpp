#include "browseropener.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>
#include <cstdlib>

namespace
{

bool HasDisplay()
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

} // namespace

void OpenInBrowser(const std::string& url)
{
    const QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (QGuiApplication::instance() != nullptr) {
        QDesktopServices::openUrl(address);
        return;
    }
    if (!HasDisplay())
        return;
    int argc = 1;
    char name[] = "postwatch";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    QDesktopServices::openUrl(address);
}
