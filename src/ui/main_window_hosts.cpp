// Host list editing, the About box and the link to the bigger edition.

#include "core/app_error.h"
#include "core/product.h"
#include "platform/page_opener.h"
#include "ui/host_prompt.h"
#include "ui/main_window.h"
#include "ui/small_windows.h"

#include <QEvent>
#include <QListWidget>

namespace tarnwick::ui {

namespace {

constexpr int kHostLimit = 5;

int selectedRow(const QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

void selectRow(QListWidget* list, int row)
{
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

} // namespace

void TForm1::BitBtn1Click()
{
    if (ListBox1->count() >= kHostLimit) {
        m_smallWindows.showHostLimit();
    } else {
        QString host = product::kDefaultHost;
        if (InputQuery(tr("Input host"), tr("Host: "), host, this))
            ListBox1->addItem(host);
    }
    // Saved in every case, also after the limit window and a cancelled prompt.
    saveFromHandler();
}

void TForm1::BitBtn22Click()
{
    const int row = selectedRow(ListBox1);
    if (row < 0)
        return;
    QString host = ListBox1->item(row)->text();
    if (!InputQuery(tr("Input new host"), tr("Host: "), host, this) || host.isEmpty())
        return;
    // The list may have changed while the prompt was open.
    if (row < ListBox1->count())
        ListBox1->item(row)->setText(host);
    saveFromHandler();
}

void TForm1::BitBtn2Click()
{
    const int row = selectedRow(ListBox1);
    if (row >= 0)
        delete ListBox1->takeItem(row);
    ListBox1->clearSelection();
    saveFromHandler();
}

void TForm1::BitBtn3Click()
{
    ListBox1->clear();
    saveFromHandler();
}

void TForm1::moveSelectedHost(int step)
{
    try {
        const int row = selectedRow(ListBox1);
        const int count = ListBox1->count();
        if (row >= 0) {
            // Past either end the entry wraps round to the other.
            const int target = (row + step + count) % count;
            ListBox1->insertItem(target, ListBox1->takeItem(row));
            selectRow(ListBox1, target);
        }
        if (!m_loading)
            SaveSettings();
    } catch (...) {
        // Moving never reports anything; what was moved stays moved.
    }
}

void TForm1::BitBtn4Click()
{
    moveSelectedHost(-1);
}
void TForm1::BitBtn5Click()
{
    moveSelectedHost(+1);
}

void TForm1::ListBox1DblClick()
{
    BitBtn22Click();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        ListBox1DblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::About1Click()
{
    m_smallWindows.showAbout();
}

void TForm1::BitBtn27Click()
{
    m_pageOpener.openPage(product::kProPageFromMain);
}

} // namespace tarnwick::ui
