#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace tarnwick::platform {

bool CopyTextToClipboard(QObject*, const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), text.toLocal8Bit());
    clipboard->setMimeData(data);
    const QMimeData* placed = clipboard->mimeData();
    return placed && placed->data(QStringLiteral("text/plain")) == text.toLocal8Bit();
}

} // namespace tarnwick::platform
