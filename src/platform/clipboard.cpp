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
    if (!placed)
        return false;
    // Our own data comes back sharing its buffer: no need to compare a log
    // of days byte by byte.
    const QByteArray back = placed->data(QStringLiteral("text/plain"));
    return back.constData() == bytes.constData() || back == bytes;
}

} // namespace tarnwick::platform
