#pragma once

// Checking trace output line by line with the probe times masked, and driving
// the traceroute window as a user would.

#include "trace/trace_controls.h"
#include "trace/trace_window.h"

#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <QtTest>

namespace tarnwick::test {

inline QString crlf(const QString& line)
{
    return line + QStringLiteral("\r\n");
}

// A line taken literally.
inline QString exactly(const QString& line)
{
    return QRegularExpression::escape(line);
}

// A hop line: probes is one character per probe, 'r' for a time column and
// '*' for the asterisk column; end is the address part or the time-out text.
inline QString hopLine(int hop, const char* probes, const QString& end)
{
    QString pattern = exactly(QString::asprintf("%3d: ", hop));
    for (const char* p = probes; *p; ++p)
        pattern +=
            *p == 'r' ? QStringLiteral("[ \\d]{5}\\d ms") : exactly(QStringLiteral("    *    "));
    return pattern + exactly(QStringLiteral("  ") + end);
}

// True when text is exactly the given lines, each ended by CR LF; says what
// differs otherwise.
inline bool linesMatch(const QString& text, const QStringList& patterns, QString* why)
{
    if (!text.endsWith(QStringLiteral("\r\n"))) {
        *why = QStringLiteral("output does not end with CR LF:\n") + text;
        return false;
    }
    const QStringList lines = text.chopped(2).split(QStringLiteral("\r\n"));
    if (lines.size() != patterns.size()) {
        *why = QStringLiteral("%1 lines, expected %2:\n%3")
                   .arg(lines.size())
                   .arg(patterns.size())
                   .arg(text);
        return false;
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpression re(QRegularExpression::anchoredPattern(patterns[i]));
        if (!re.match(lines[i]).hasMatch()) {
            *why = QStringLiteral("line %1 is \"%2\", expected /%3/")
                       .arg(i + 1)
                       .arg(lines[i], patterns[i]);
            return false;
        }
    }
    return true;
}

// Types a "Max hops" text as a user would.
inline void typeMaxHops(trace::TForm3& form, const QString& text)
{
    form.sedCount->setFocus();
    form.sedCount->selectAll();
    QTest::keyClicks(form.sedCount, text);
}

inline void startTrace(trace::TForm3& form, const QString& host, const QString& maxHops)
{
    form.edAddr->setText(host);
    typeMaxHops(form, maxHops);
    QTest::mouseClick(form.btnStart, Qt::LeftButton);
}

// Runs the event loop until cond holds. Unlike QTest::qWaitFor, which sleeps
// between rounds, a real loop takes each hand-off from a worker as it comes.
template <typename Cond> bool waitUntil(Cond cond, int timeoutMs)
{
    if (cond())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cond())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return cond();
}

// Waits until no trace worker is left and the button is enabled.
inline bool waitForTraceEnd(trace::TForm3& form, int timeoutMs)
{
    return waitUntil([&] { return form.traceThreadCount() == 0 && form.btnStart->isEnabled(); },
                     timeoutMs);
}

} // namespace tarnwick::test
