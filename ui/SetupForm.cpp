#include "SetupForm.h"

#include "CheckListDelegate.h"
#include "MainForm.h"
#include "MidiPorts.h"
#include "Notices.h"
#include "OptionsFile.h"
#include "Panic.h"
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

constexpr const char* CheckItems[5] = {"To Output 1", "To Output 2", "To Output 3", "AT to PB", "Ch Voice Only"};

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

// Full names are cut in the middle, keeping the start of the client and the
// end of the port, the part that tells two ports of one device apart. The
// whole name is the entry's tooltip.
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
        option.currentText = fontMetrics().elidedText(FullName(this, currentIndex()), Qt::ElideMiddle, field.width() - 2);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

// Brings a device list up to the engine's: new devices at the end, absent
// ones marked.
void FillDeviceList(QComboBox* list, bool input)
{
    const std::vector<std::string>& names = input ? InDeviceNames : OutDeviceNames;
    const QSignalBlocker quiet(list);
    const QFontMetrics metrics(list->view()->font());
    for (size_t at = 0; at < names.size(); ++at) {
        const auto selection = static_cast<int32_t>(at);
        const QString name = QString::fromStdString(names[at]);
        const QString text = DevicePresent(input, selection) ? name : name + QStringLiteral(" (absent)");
        const QString shown = metrics.elidedText(text, Qt::ElideMiddle, WidestEntry);
        if (selection < list->count())
            list->setItemText(selection, shown);
        else
            list->addItem(shown);
        list->setItemData(selection, text, Qt::ToolTipRole);
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
    const auto states = InputSettings(n);
    for (int i = 0; i < 5; ++i) {
        auto* item = new QListWidgetItem(QString::fromLatin1(CheckItems[i]), list);
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
    m_inputs[0] = DeviceList(devices, "Input1ComboBox", {8, 32, 217, 21}, true, OpenSelection[InputPort(1)]);
    Label(devices, "Label9", {8, 56, 59, 13}, "MIDI Input 2");
    m_inputs[1] = DeviceList(devices, "Input2ComboBox", {8, 72, 217, 21}, true, OpenSelection[InputPort(2)]);
    Label(devices, "Label5", {8, 96, 59, 13}, "MIDI Input 3");
    m_inputs[2] = DeviceList(devices, "Input3ComboBox", {8, 112, 217, 21}, true, OpenSelection[InputPort(3)]);
    auto* separator = new QFrame(devices);
    separator->setObjectName(QStringLiteral("Bevel1"));
    separator->setGeometry(8, 160, 217, 9);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    separator->setFrameRect(QRect(0, 0, 217, 2));  // the top edge only
    Label(devices, "Label2", {8, 176, 67, 13}, "MIDI Output 1");
    m_outputs[0] = DeviceList(devices, "Out1ComboBox", {8, 192, 217, 21}, false, OpenSelection[OutputPort(1)]);
    Label(devices, "Label3", {8, 216, 67, 13}, "MIDI Output 2");
    m_outputs[1] = DeviceList(devices, "Out2ComboBox", {8, 232, 217, 21}, false, OpenSelection[OutputPort(2)]);
    Label(devices, "Label4", {8, 256, 67, 13}, "MIDI Output 3");
    m_outputs[2] = DeviceList(devices, "Out3ComboBox", {8, 272, 217, 21}, false, OpenSelection[OutputPort(3)]);

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
    SelectInput(n, list->currentIndex());
    // After a failed open the list shows what is really open.
    list->setCurrentIndex(OpenSelection[InputPort(n)]);
}

void TSetupForm::outputChange(int n)
{
    QComboBox* list = m_outputs[n - 1];
    SelectOutput(n, list->currentIndex());
    list->setCurrentIndex(OpenSelection[OutputPort(n)]);
}

void TSetupForm::RefreshDeviceLists()
{
    for (int n = 1; n <= 3; ++n) {
        for (const bool input : {true, false}) {
            QComboBox* list = input ? m_inputs[n - 1] : m_outputs[n - 1];
            FillDeviceList(list, input);
            list->setCurrentIndex(OpenSelection[input ? InputPort(n) : OutputPort(n)]);
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
    for (int n = 1; n <= 3; ++n) {
        const QListWidget* list = m_checkLists[n - 1];
        const auto checked = [list](int item) { return list->item(item)->checkState() == Qt::Checked; };
        const int32_t mask = (checked(0) ? 1 : 0) + (checked(1) ? 2 : 0) + (checked(2) ? 4 : 0);
        SetRouting(n, mask, checked(3), checked(4));
    }
    if (MainForm)
        MainForm->RefreshRoutingDisplay();
}

void TSetupForm::Button1Click()
{
    RunHandler([] { SaveOptions(); });
}

void TSetupForm::FormKeyDown(int key)
{
    if (key == VirtualKeyEscape || key == VirtualKeyF2)
        done(QDialog::Accepted);
    else if (key == VirtualKeyF9)
        SendPanic();
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
    // Letters less than 500 ms apart build one prefix; a new prefix starts
    // after the entry shown, so one letter typed again steps through the
    // entries it starts.
    const bool continuing = m_typed.isValid() && m_typed.elapsed() < 500 && m_typedIn == list;
    m_prefix = continuing ? m_prefix + text : text;
    m_typed.start();
    m_typedIn = list;
    const int count = list->count();
    const int first = list->currentIndex() + (continuing ? 0 : 1);
    for (int i = 0; i < count; ++i) {
        const int index = ((first + i) % count + count) % count;
        if (FullName(list, index).startsWith(m_prefix, Qt::CaseInsensitive)) {
            if (index == list->currentIndex())
                return false;
            list->setCurrentIndex(index);
            return true;
        }
    }
    return false;
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
