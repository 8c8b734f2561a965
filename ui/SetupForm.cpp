#include "SetupForm.h"

#include "CheckListDelegate.h"
#include "MainForm.h"
#include "DeviceLists.h"
#include "MiddleCut.h"
#include "Notices.h"
#include "OptionsFile.h"
#include "RoutingDisplay.h"
#include "RoutingSettings.h"
#include "SoundingNotes.h"
#include "VirtualKeys.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

TSetupForm* SetupForm = nullptr;

namespace {

// The captions size themselves to their text, so a substitute font a little
// wider than the one the layout was made for does not cut them.
QLabel* Label(QWidget* parent, const char* name, QRect geometry, const char* text)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    geometry.setWidth(std::max(geometry.width(), label->sizeHint().width()));
    label->setGeometry(geometry);
    return label;
}

// The widest entry a drop-down shows, about twice its box: a JACK port's full
// name can be far wider, and the list would stretch across the screen.
constexpr int WidestEntry = 420;

// Full names are cut in the middle; the whole name is the entry's tooltip.
QString FullName(const QComboBox* list, int index)
{
    return list->itemData(index, Qt::ToolTipRole).toString();
}

// Draws the entry shown cut to the box's width, where the style would clip it.
class DeviceComboBox final : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        painter.setPen(palette().color(QPalette::Text));
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        const QFontMetrics metrics = fontMetrics();
        option.currentText = QString::fromStdString(
            CutInTheMiddle(FullName(this, currentIndex()).toStdString(), field.width() - 2,
                           [&metrics](const std::string& text) {
                               return metrics.horizontalAdvance(QString::fromStdString(text));
                           }));
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

// Brings a device list up to the engine's: new devices at the end, absent
// ones marked.
void FillDeviceList(QComboBox* list, bool input)
{
    const QSignalBlocker quiet(list);
    const QFontMetrics metrics(list->view()->font());
    const auto measure = [&metrics](const std::string& text) {
        return metrics.horizontalAdvance(QString::fromStdString(text));
    };
    const auto count = static_cast<int32_t>(DeviceNames(input).size());
    for (int32_t selection = 0; selection < count; ++selection) {
        const std::string text = DeviceEntryText(input, selection);
        const QString shown = QString::fromStdString(CutInTheMiddle(text, WidestEntry, measure));
        if (selection < list->count())
            list->setItemText(selection, shown);
        else
            list->addItem(shown);
        list->setItemData(selection, QString::fromStdString(text), Qt::ToolTipRole);
    }
    // The drop-down may be wider than its box, up to the widest entry.
    QAbstractItemView* view = list->view();
    view->setMinimumWidth(std::max(list->width(), view->sizeHintForColumn(0) + 2 * view->frameWidth() + 20));
}

void ShowCurrentName(QComboBox* list)
{
    list->setToolTip(FullName(list, list->currentIndex()));
}

QComboBox* DeviceList(QWidget* parent, const char* name, QRect geometry, bool input, int32_t selection)
{
    auto* list = new DeviceComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(geometry);
    list->setEditable(false);
    FillDeviceList(list, input);
    list->setCurrentIndex(selection);
    ShowCurrentName(list);
    QObject::connect(list, &QComboBox::currentIndexChanged, list, [list] { ShowCurrentName(list); });
    return list;
}

QListWidget* CheckList(QWidget* parent, const char* name, QRect geometry, int n)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(geometry);
    list->setUniformItemSizes(true);
    list->setItemDelegate(new CheckListDelegate(list));
    const auto states = CurrentRoutingChecks()[static_cast<size_t>(n - 1)];
    for (int i = 0; i < 5; ++i) {
        auto* item = new QListWidgetItem(QString::fromLatin1(CheckListItems[i]), list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(states[i] ? Qt::Checked : Qt::Unchecked);
        item->setSizeHint(QSize(0, 13));
    }
    return list;
}

}  // namespace

TSetupForm::TSetupForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("SetupForm"));
    setWindowTitle(QStringLiteral(" MIDI Setup Dialog"));
    setFixedSize(377, 361);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    build();
    // Key preview: Esc and F2 reach the dialog whatever has the focus.
    qApp->installEventFilter(this);
}

TSetupForm::~TSetupForm()
{
    if (SetupForm == this)
        SetupForm = nullptr;
}

void TSetupForm::build()
{
    auto* devices = new QGroupBox(QStringLiteral("MIDI In/Out Devices Setup"), this);
    devices->setObjectName(QStringLiteral("GroupBox1"));
    devices->setGeometry(8, 8, 233, 305);
    Label(devices, "Label1", {8, 16, 59, 13}, "MIDI Input 1");
    m_inputs[0] = DeviceList(devices, "Input1ComboBox", {8, 32, 217, 21}, true, ShownDevice(true, 1));
    Label(devices, "Label9", {8, 56, 59, 13}, "MIDI Input 2");
    m_inputs[1] = DeviceList(devices, "Input2ComboBox", {8, 72, 217, 21}, true, ShownDevice(true, 2));
    Label(devices, "Label5", {8, 96, 59, 13}, "MIDI Input 3");
    m_inputs[2] = DeviceList(devices, "Input3ComboBox", {8, 112, 217, 21}, true, ShownDevice(true, 3));
    auto* separator = new QFrame(devices);
    separator->setObjectName(QStringLiteral("Bevel1"));
    separator->setGeometry(8, 160, 217, 9);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setFrameRect(QRect(0, 0, 217, 2));  // the top edge only
    Label(devices, "Label2", {8, 176, 67, 13}, "MIDI Output 1");
    m_outputs[0] = DeviceList(devices, "Out1ComboBox", {8, 192, 217, 21}, false, ShownDevice(false, 1));
    Label(devices, "Label3", {8, 216, 67, 13}, "MIDI Output 2");
    m_outputs[1] = DeviceList(devices, "Out2ComboBox", {8, 232, 217, 21}, false, ShownDevice(false, 2));
    Label(devices, "Label4", {8, 256, 67, 13}, "MIDI Output 3");
    m_outputs[2] = DeviceList(devices, "Out3ComboBox", {8, 272, 217, 21}, false, ShownDevice(false, 3));

    auto* save = new QPushButton(QStringLiteral("Save as \"Deffault\""), this);
    save->setObjectName(QStringLiteral("Button1"));
    save->setGeometry(8, 328, 361, 25);
    save->setAutoDefault(false);
    QFont bold = save->font();
    bold.setBold(true);
    save->setFont(bold);

    auto* thru = new QGroupBox(QStringLiteral("MIDI THRU Settings"), this);
    thru->setObjectName(QStringLiteral("GroupBox2"));
    thru->setGeometry(248, 8, 121, 305);
    Label(thru, "Label6", {8, 16, 33, 13}, "Input 1");
    m_checkLists[0] = CheckList(thru, "CheckListBox1", {8, 32, 105, 73}, 1);
    Label(thru, "Label7", {8, 112, 33, 13}, "Input 2");
    m_checkLists[1] = CheckList(thru, "CheckListBox2", {8, 128, 105, 73}, 2);
    Label(thru, "Label8", {8, 208, 33, 13}, "Input 3");
    m_checkLists[2] = CheckList(thru, "CheckListBox3", {8, 224, 105, 73}, 3);

    // Tab order: the devices group (its lists in their own order), the save
    // button, the thru group.
    QWidget* order[] = {m_inputs[0],  m_outputs[0], m_outputs[1],     m_inputs[1],      m_inputs[2],
                        m_outputs[2], save,         m_checkLists[0], m_checkLists[1], m_checkLists[2]};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    // Connected after everything is set, so that setting from code fires nothing.
    connect(m_inputs[0], &QComboBox::activated, this, &TSetupForm::Input1ComboBoxChange);
    connect(m_inputs[1], &QComboBox::activated, this, &TSetupForm::Input2ComboBoxChange);
    connect(m_inputs[2], &QComboBox::activated, this, &TSetupForm::Input3ComboBoxChange);
    connect(m_outputs[0], &QComboBox::activated, this, &TSetupForm::Out1ComboBoxChange);
    connect(m_outputs[1], &QComboBox::activated, this, &TSetupForm::Out2ComboBoxChange);
    connect(m_outputs[2], &QComboBox::activated, this, &TSetupForm::Out3ComboBoxChange);
    connect(m_checkLists[0], &QListWidget::itemChanged, this, &TSetupForm::CheckListBox1ClickCheck);
    connect(m_checkLists[1], &QListWidget::itemChanged, this, &TSetupForm::CheckListBox2ClickCheck);
    connect(m_checkLists[2], &QListWidget::itemChanged, this, &TSetupForm::CheckListBox3ClickCheck);
    connect(save, &QPushButton::clicked, this, &TSetupForm::Button1Click);
}

void TSetupForm::inputChange(int n)
{
    QComboBox* list = m_inputs[n - 1];
    list->setCurrentIndex(ChooseDevice(true, n, list->currentIndex()));
}

void TSetupForm::outputChange(int n)
{
    QComboBox* list = m_outputs[n - 1];
    list->setCurrentIndex(ChooseDevice(false, n, list->currentIndex()));
}

void TSetupForm::RefreshDeviceLists()
{
    for (int n = 1; n <= 3; ++n) {
        for (const bool input : {true, false}) {
            QComboBox* list = input ? m_inputs[n - 1] : m_outputs[n - 1];
            FillDeviceList(list, input);
            list->setCurrentIndex(ShownDevice(input, n));
            ShowCurrentName(list);
        }
    }
}

void FollowDeviceChanges()
{
    if (SetupForm)
        SetupForm->RefreshDeviceLists();
}

void TSetupForm::ApplyRoutingChecks()
{
    RoutingChecks checks{};
    for (size_t n = 0; n < 3; ++n) {
        for (int item = 0; item < 5; ++item)
            checks[n][static_cast<size_t>(item)] = m_checkLists[n]->item(item)->checkState() == Qt::Checked;
    }
    ::ApplyRoutingChecks(checks);
    if (MainForm)
        MainForm->RefreshRoutingDisplay();
}

void TSetupForm::Button1Click()
{
    RunHandler([] { SaveOptions(); });
}

void TSetupForm::FormKeyDown(int key)
{
    if (SetupDialogKey(key) == KeyAction::Close)
        done(QDialog::Accepted);
}

bool TSetupForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
        static_cast<QWidget*>(watched)->window() != this)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (const int code = VirtualKeyCode(key)) {
        FormKeyDown(code);
        return true;
    }
    for (int n = 1; n <= 3; ++n) {
        for (const bool input : {true, false}) {
            QComboBox* list = input ? m_inputs[n - 1] : m_outputs[n - 1];
            if (watched != list)
                continue;
            const auto change = [&] { input ? inputChange(n) : outputChange(n); };
            // Backspace re-chooses the entry the list shows: the port closes
            // and opens again.
            if (key->key() == Qt::Key_Backspace) {
                change();
                return true;
            }
            // Typed text belongs to the search alone, spaces included (the
            // list's own handling would open the drop-down on a space).
            const QString text = key->text();
            if (text.isEmpty() || !text.at(0).isPrint() || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
                return false;
            if (typeToFind(list, text))
                change();
            return true;
        }
    }
    return false;
}

bool TSetupForm::typeToFind(QComboBox* list, const QString& text)
{
    std::vector<std::string> entries;
    for (int i = 0; i < list->count(); ++i)
        entries.push_back(FullName(list, i).toStdString());
    const int found = m_typeToFind.find(list, text.toStdString(), list->currentIndex(), entries);
    if (found < 0)
        return false;
    list->setCurrentIndex(found);
    return true;
}

void ShowSetupDialog(TMainForm* owner)
{
    TSetupForm dialog(owner);
    SetupForm = &dialog;
    if (const QScreen* screen = dialog.screen())
        dialog.move(screen->availableGeometry().center() - dialog.rect().center());
    dialog.exec();
    dialog.hide();
}
