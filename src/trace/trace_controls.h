#pragma once

#include <QPlainTextEdit>
#include <QSpinBox>

namespace tarnwick::trace {

// A number box without bounds that takes any text. What the text means is up
// to its reader: the box itself shows a text that is no number as 0 once
// editing ends.
class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
};

// The trace output: pieces are appended as they come, each possibly ending a
// line with CR LF, and the last line is kept in view.
class TTraceMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TTraceMemo(QWidget* parent = nullptr);

    void appendPiece(const QString& piece);
    // The whole text with CR LF between lines, as the pieces made it.
    QString text() const;
};

} // namespace tarnwick::trace
