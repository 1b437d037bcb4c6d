#include "exchangelogoff.h"

#include "mapiprobelibrary.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <thread>

namespace
{
// How often the waiting loop looks whether the log-off has returned. The helper thread
// does not post to this thread's event queue itself: a flag it sets is all they share.
constexpr int kLookMs = 10;
} // namespace

void LogoffWhileHandlingEvents(MapiprobeLibrary& exchange)
{
    std::atomic<bool> done{false};
    std::thread helper([&exchange, &done] {
        exchange.Logoff();
        done = true;
    });
    QEventLoop loop;
    QTimer look;
    look.setInterval(kLookMs);
    QObject::connect(&look, &QTimer::timeout, &loop, [&loop, &done] {
        if (done.load())
            loop.quit();
    });
    look.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    helper.join();
}
