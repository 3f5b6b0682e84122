#pragma once

#include <QDialog>
#include <QPointer>

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;

namespace tarnwick::platform {
class PageOpener;
}

namespace tarnwick::ui {

// The About box: product, version and a link to the utility's page.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    TAboutBox(QWidget* mainWindow, platform::PageOpener& pages);

    QFrame* Panel1 = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Copyright = nullptr;
    QLabel* Comments = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* OKButton = nullptr;

public slots:
    void Label1Click();
    void OKButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_mainWindow;
    platform::PageOpener& m_pages;
};

// Shown instead of the prompt when a sixth host is to be added.
class TMore_Form : public QDialog {
    Q_OBJECT
public:
    TMore_Form(QWidget* parent, platform::PageOpener& pages);

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;

    static constexpr QPoint kDesignedPosition{396, 319};

public slots:
    void BitBtn1Click();
    void BitBtn2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    platform::PageOpener& m_pages;
};

// The main window's way to its About box and host-limit window. The dialogs
// are children of the window, so the composition root makes this first, hands
// it to the window, and creates the dialogs once the window exists. Until
// then, and after the window took them with it, asking for one does nothing.
class SmallWindows {
public:
    explicit SmallWindows(platform::PageOpener& pages) : m_pages(pages) {}
    ~SmallWindows();
    SmallWindows(const SmallWindows&) = delete;
    SmallWindows& operator=(const SmallWindows&) = delete;

    void create(QWidget* mainWindow);

    // Modal; asked for again while it is up (from the tray), it comes forward.
    void showAbout();
    // Modal: shown instead of the prompt for a sixth host.
    void showHostLimit();

    TAboutBox* aboutBox() const { return m_aboutBox; }
    TMore_Form* moreForm() const { return m_moreForm; }

private:
    platform::PageOpener& m_pages;
    QPointer<TAboutBox> m_aboutBox;
    QPointer<TMore_Form> m_moreForm;
};

} // namespace tarnwick::ui
