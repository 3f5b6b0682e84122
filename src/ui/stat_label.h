#pragma once

#include <QLabel>

namespace tarnwick::ui {

// A statistics label. Its text separates lines by a single carriage return;
// shown, each carriage return starts a new line.
class TStatLabel : public QLabel {
    Q_OBJECT
public:
    explicit TStatLabel(QWidget* parent = nullptr);
    void setCaption(const QString& caption);
    QString caption() const { return m_caption; }

private:
    QString m_caption;
};

} // namespace tarnwick::ui
