#include "platform/clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace tarnwick::platform {

bool CopyTextToClipboard(QObject* owner, const QString& text)
{
    return CopyBytesToClipboard(owner, text.toLocal8Bit());
}

bool CopyBytesToClipboard(QObject*, const QByteArray& bytes)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), bytes);
    clipboard->setMimeData(data);
    const QMimeData* placed = clipboard->mimeData();
    return placed && placed->data(QStringLiteral("text/plain")) == bytes;
}

} // namespace tarnwick::platform
