// The main window's settings: read once at creation, written through on every
// change, and the first run.

#include "core/app_error.h"
#include "core/product.h"
#include "platform/page_opener.h"
#include "settings/settings_store.h"
#include "ui/controls.h"
#include "ui/main_window.h"
#include "ui/stat_label.h"
#include "ui/up_down.h"

#include <QListWidget>
#include <QPlainTextEdit>
#include <QSignalBlocker>

namespace tarnwick::ui {

namespace {
// Where a list entry keeps the bytes it was read as.
constexpr int kBytesRole = Qt::UserRole;
// Up to this many entries the list measures each (a long one gets its
// horizontal scroll bar); it does so in a few milliseconds.
constexpr qsizetype kEntriesSizedOneByOne = 1000;
} // namespace

QString TForm1::settingsFilePath() const
{
    return m_store.settingsFilePath();
}

QString TForm1::hostListFilePath() const
{
    return m_store.hostListFilePath();
}

QList<settings::HostEntry> TForm1::hostEntries() const
{
    QList<settings::HostEntry> entries;
    entries.reserve(ListBox1->count());
    for (int i = 0; i < ListBox1->count(); ++i) {
        const QListWidgetItem* item = ListBox1->item(i);
        entries.append({item->text(), item->data(kBytesRole).toByteArray()});
    }
    return entries;
}

void TForm1::FormCreate()
{
    m_loading = true;
    // Initial statistics: every minimum at -1 (no round trip yet), the packet
    // summaries at zero and the timing summaries empty.
    for (int k = 0; k < engine::kSlotCount; ++k) {
        m_stats[k] = engine::SlotStats{};
        m_stats[k].minimum = -1;
    }
    packetLabel(0)->setCaption(engine::initialPacketSummary());
    for (int k = 1; k < engine::kSlotCount; ++k)
        packetLabel(k)->setCaption(packetLabel(0)->caption());
    for (int k = 0; k < engine::kSlotCount; ++k)
        timingLabel(k)->setCaption(QString());

    m_store.removeStaleTemporaries();
    loadSettingsFile();
    loadHostListFile();
    m_loading = false;
    firstRunCheck();
}

void TForm1::loadSettingsFile()
{
    const std::optional<QStringList> lines = m_store.readSettingsLines();
    if (!lines)
        return;
    Memo_2->setPlainText(lines->join(QLatin1Char('\n')));
    // Applied in order; the first line that does not read ends the step.
    settings::Settings loaded = currentSettings();
    const int applied = settings::applySettingsLines(*lines, loaded);
    if (applied >= 1)
        UpDown1->setPosition(loaded.delay);
    if (applied >= 2)
        CheckBox1->setChecked(loaded.autoStart);
    if (applied >= 3)
        UpDown2->setPosition(loaded.timeout);
    if (applied >= 4)
        UpDown3->setPosition(loaded.packetSize);
}

void TForm1::loadHostListFile()
{
    const std::optional<QList<settings::HostEntry>> entries = m_store.readHostList();
    if (!entries)
        return;
    // In one batch: every change of the list rebuilds the hosts the workers
    // read, so one insertion per line made loading quadratic.
    QStringList texts;
    texts.reserve(entries->size());
    for (const settings::HostEntry& entry : *entries)
        texts << entry.text;
    ListBox1->clear();
    // Laying out a million entries one by one to size the list took seconds
    // before the window could show; so long a list is sized from one entry.
    ListBox1->setUniformItemSizes(texts.size() > kEntriesSizedOneByOne);
    ListBox1->insertItems(0, texts);
    // The few entries whose text does not give their bytes back keep them.
    // No view shows that role, and no text changes: nobody is told.
    const QSignalBlocker quiet(ListBox1->model());
    for (qsizetype i = 0; i < entries->size(); ++i) {
        const settings::HostEntry& entry = entries->at(i);
        if (!entry.bytes.isNull())
            ListBox1->item(static_cast<int>(i))->setData(kBytesRole, entry.bytes);
    }
}

void TForm1::firstRunCheck()
{
    if (!m_store.isFirstRun())
        return;
    m_pageOpener.openPage(product::kMakerHomePage);
    show();
    m_store.markFirstRunDone();
}

settings::Settings TForm1::currentSettings() const
{
    settings::Settings values;
    values.delay = UpDown1->position();
    values.autoStart = CheckBox1->isChecked();
    values.timeout = UpDown2->position();
    values.packetSize = UpDown3->position();
    return values;
}

void TForm1::SaveSettings()
{
    // The lines go through the buffer first, so it holds them even when a
    // write fails.
    const settings::Settings values = currentSettings();
    const QStringList lines = settings::settingsLines(values);
    Memo_2->clear();
    Memo_2->setPlainText(lines.join(QLatin1Char('\n')));
    m_store.save(hostEntries(), lines, values.autoStart);
}

void TForm1::saveFromHandler()
{
    if (m_loading)
        return;
    reportingErrors([this] { SaveSettings(); });
}

void TForm1::Edit1Change()
{
    saveFromHandler();
}
void TForm1::Edit1KeyUp()
{
    saveFromHandler();
}
void TForm1::Edit4KeyUp()
{
    saveFromHandler();
}
void TForm1::UpDown1MouseUp()
{
    saveFromHandler();
}
void TForm1::UpDown2MouseUp()
{
    saveFromHandler();
}
void TForm1::CheckBox1MouseUp()
{
    saveFromHandler();
}

} // namespace tarnwick::ui
