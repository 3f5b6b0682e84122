#include "app/single_instance.h"

#include "platform/instance_channel.h"
#include "platform/instance_lock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QWidget>

#include <cstdio>
#include <thread>

namespace tarnwick::app {

namespace {

void sayLine(std::FILE* to, const QString& text)
{
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), to);
    std::fflush(to);
}

} // namespace

std::optional<int> handOverToRunningInstance(platform::InstanceLock& lock)
{
    using platform::ShowAnswer;
    const QString folder = QDir::toNativeSeparators(lock.folder());
    const QString socket = platform::instanceSocketPath(lock.folder());
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const int left = kHandOverWaitMs - int(waited.elapsed());
        const ShowAnswer answer =
            left > 0 ? platform::askInstanceToShow(socket, left) : ShowAnswer::Silent;
        if (answer == ShowAnswer::Shown) {
            sayLine(stdout, QStringLiteral("Tarnwick is running already with the settings in %1; "
                                           "its window is shown.")
                                .arg(folder));
            return 0;
        }
        if (lock.retry() == platform::InstanceLock::State::Held)
            return std::nullopt;
        if (waited.elapsed() >= kHandOverWaitMs) {
            sayLine(stderr, QStringLiteral("Tarnwick is running already with the settings in %1, "
                                           "but it did not answer (it may be another user's); "
                                           "this start ends.")
                                .arg(folder));
            return 1;
        }
        // Not listening yet (starting still), or on its way out.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void bringForward(QWidget& window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace tarnwick::app
