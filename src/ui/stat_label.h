#pragma once

#include <QString>
#include <QWidget>

namespace tarnwick::ui {

// A statistics label. Its text separates lines by a single carriage return;
// shown, each carriage return starts a new line, and long lines wrap.
//
// It paints its text itself rather than being a QLabel: a QLabel that gets
// new text asks its layout to be redone, which climbs through every layout up
// to the tab control, and the tab control then repaints itself whole, tab
// bar and frame, for every recorded result. This label has a fixed place and
// a new figure repaints only the label.
class TStatLabel : public QWidget {
    Q_OBJECT
public:
    explicit TStatLabel(QWidget* parent = nullptr);
    void setCaption(const QString& caption);
    QString caption() const { return m_caption; }
    // The caption as shown, lines separated by LF.
    QString shownText() const { return m_shown; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    QString m_shown;
};

} // namespace tarnwick::ui
