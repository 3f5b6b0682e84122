#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace tarnwick::ui {

// A slot log: an ordinary editable multi-line box that grows for days.
// Appending, counting lines and reading the newest lines never scan the text;
// undo history is off so that the log does not keep a second copy of itself.
class TLogMemo : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TLogMemo(QWidget* parent = nullptr);

    // Appends a line as the new last line.
    void appendLine(const QString& line);
    // Lines of text; an empty last line after the final line break is not one.
    int lineCount() const;
    // The line `back` places before the newest (0 = newest); empty when the
    // log has fewer lines.
    QString lineFromEnd(int back) const;
    // The whole text with CR LF line ends, each line ended (as saved files and
    // the clipboard want it).
    QString textWithCrLf() const;

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

} // namespace tarnwick::ui
