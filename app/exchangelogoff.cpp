#include "exchangelogoff.h"

#include "mapiprobelibrary.h"

#include <QEventLoop>
#include <QMetaObject>
#include <thread>

void LogoffWhileHandlingEvents(MapiprobeLibrary& exchange)
{
    QEventLoop loop;
    std::thread helper([&exchange, &loop] {
        exchange.Logoff();
        // Queued: should the helper finish before exec() starts, the quit waits for it.
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    helper.join();
}
