#include "ui/settings_column.h"

#include "core/product.h"
#include "ui/controls.h"
#include "ui/pictures.h"
#include "ui/up_down.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace tarnwick::ui {

namespace {

template <typename T> T* named(T* object, const char* name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// Draws at most this many characters of an entry. A longer one is no host
// name, and the box shows a few words at most; eliding a 100 MB entry took
// seconds of a core at every paint of the box.
constexpr int kShownEntryChars = 255;

class ShortEntryDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->text.size() > kShownEntryChars)
            option->text.truncate(kShownEntryChars);
    }
};

QPushButton* makeButton(const QString& caption, const char* name, QWidget* parent)
{
    auto* button = named(new QPushButton(caption, parent), name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TSettingsColumn::TSettingsColumn(SettingsControls& c, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Panel1"));
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(3);

    c.BitBtn27 = makeButton(tr("Need more? Try Tarnwick Pro"), "BitBtn27", this);
    column->addWidget(c.BitBtn27);

    auto numberRow = [&](const QString& caption, const char* labelName, const char* editName,
                         const char* upDownName, int min, int max, int step, int value,
                         QLabel*& label, TEdit*& edit, TUpDown*& upDown) {
        label = named(new QLabel(caption, this), labelName);
        edit = named(new TEdit(this), editName);
        upDown = named(new TUpDown(this), upDownName);
        upDown->setRange(min, max);
        upDown->setIncrement(step);
        upDown->setPosition(value);
        upDown->setAssociate(edit);
        auto* row = new QHBoxLayout;
        row->setSpacing(0);
        row->addWidget(edit, 1);
        row->addWidget(upDown);
        column->addWidget(label);
        column->addLayout(row);
    };
    numberRow(tr("Size of pakets(bytes)"), "Label7", "Edit5", "UpDown3", 1, 30000, 1, 32, c.Label7,
              c.Edit5, c.UpDown3);
    // Stored with the settings, but never shown.
    c.Label7->hide();
    c.Edit5->hide();
    c.UpDown3->hide();
    numberRow(tr("Timeout(ms)"), "Label6", "Edit4", "UpDown2", 50, 10000, 500, 2000, c.Label6,
              c.Edit4, c.UpDown2);
    numberRow(tr("Delay(ms)"), "Label17", "Edit1", "UpDown1", 200, 5000, 100, 1000, c.Label17,
              c.Edit1, c.UpDown1);

    c.CheckBox1 = named(new TCheckBox(tr("Auto start with system"), this), "CheckBox1");
    c.CheckBox1->setChecked(true);
    column->addWidget(c.CheckBox1);

    c.ListBox1 = named(new QListWidget(this), "ListBox1");
    c.ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    c.ListBox1->setItemDelegate(new ShortEntryDelegate(c.ListBox1));
    c.ListBox1->addItem(product::kDefaultHost);
    column->addWidget(c.ListBox1, 1);

    c.BitBtn5 = makeButton(QString(), "BitBtn5", this);
    c.BitBtn1 = makeButton(tr("Add host"), "BitBtn1", this);
    c.BitBtn4 = makeButton(QString(), "BitBtn4", this);
    c.BitBtn5->setFixedWidth(26);
    c.BitBtn4->setFixedWidth(26);
    c.BitBtn5->setIcon(moveDownArrow());
    c.BitBtn4->setIcon(moveUpArrow());
    c.BitBtn5->setToolTip(tr("Move the selected host down"));
    c.BitBtn4->setToolTip(tr("Move the selected host up"));
    auto* addRow = new QHBoxLayout;
    addRow->setSpacing(2);
    addRow->addWidget(c.BitBtn5);
    addRow->addWidget(c.BitBtn1, 1);
    addRow->addWidget(c.BitBtn4);
    column->addLayout(addRow);

    c.BitBtn22 = makeButton(tr("Edit host"), "BitBtn22", this);
    c.BitBtn2 = makeButton(tr("Delete host"), "BitBtn2", this);
    c.BitBtn3 = makeButton(tr("Delete All"), "BitBtn3", this);
    column->addWidget(c.BitBtn22);
    column->addWidget(c.BitBtn2);
    column->addWidget(c.BitBtn3);

    c.Button1 = makeButton(tr("Start"), "Button1", this);
    c.Button1->setMinimumHeight(32);
    c.Button1->setIcon(startGlyph());
    c.Button1->setIconSize(QSize(16, 16));
    column->addWidget(c.Button1);
}

} // namespace tarnwick::ui
