#include "display/ui/display_window.h"

#include "display/decoding/procedures.h"
#include "display/ui/data_folder.h"
#include "display/ui/heading_columns.h"
#include "display/ui/layout.h"
#include "display/ui/port_combo.h"
#include "display/ui/settings.h"
#include "display/ui/stations_shortcut.h"
#include "display/ui/version.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTime>
#include <QTimer>
#include <QWindow>

#include <stdexcept>

namespace veltaro {

namespace {

constexpr int kOuterWidthTwips = 15360;
// Windows' application-workspace grey, the background of the window's own parts.
const QColor kWorkspace(0xAB, 0xAB, 0xAB);
// A disabled button's caption, still readable on that grey (over 5:1; its
// thin strokes, smoothed, come out lighter).
const QColor kDisabledCaption(0x33, 0x33, 0x33);
// A data folder that cannot be used is named in dark red.
const QColor kProblemText(0x8B, 0x00, 0x00);

template <typename Widget> Widget* Place(Widget* widget, const char* name, QRect rect) {
    widget->setObjectName(name);
    widget->setGeometry(rect);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect rect,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop) {
    auto* label = Place(new QLabel(text, parent), name, rect);
    label->setAlignment(align);
    return label;
}

QLabel* MakeTitle(QWidget* parent, const char* name, const QString& text, QRect rect, bool bold) {
    auto* label = MakeLabel(parent, name, text, rect);
    label->setFont(LayoutFont("MS Sans Serif", 12, bold));
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect rect) {
    return Place(new QPushButton(text, parent), name, rect);
}

// A list that can hold off laying out and painting its rows. The trimming at
// the end of an ingest cycle lets events run after every removed line; laying
// the list out again each time cost seconds for a burst of records.
class RecordList : public QListWidget {
public:
    using QListWidget::QListWidget;

    void HoldLayout() {
        if (held_++ == 0) {
            setUpdatesEnabled(false);
        }
    }
    void ReleaseLayout() {
        if (--held_ == 0) {
            QListWidget::doItemsLayout();
            setUpdatesEnabled(true);
        }
    }
    void doItemsLayout() override {
        if (held_ == 0) {
            QListWidget::doItemsLayout();
        }
    }

private:
    int held_ = 0;
};

QMargins FrameMargins(const QWidget& window) {
    const QRect inner = window.geometry();
    const QRect outer = window.frameGeometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

QListWidget* MakeList(QWidget* parent, const char* name, QRect rect) {
    auto* list = Place(new RecordList(parent), name, rect);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setUniformItemSizes(true);
    list->setTextElideMode(Qt::ElideNone); // clipped at the edge, never shortened
    return list;
}

// List entries keep the bytes they were given; what is shown is their UTF-8
// reading, so a stray byte cannot change what reaches a log.
constexpr int kBytesRole = Qt::UserRole;

QListWidgetItem* MakeItem(const std::string& text) {
    const QByteArray bytes = QByteArray::fromStdString(text);
    auto* item = new QListWidgetItem(QString::fromUtf8(bytes));
    item->setData(kBytesRole, bytes);
    return item;
}

} // namespace

FDisplay::FDisplay(const QString& program_folder, const QString& data_folder)
    : data_folder_(data_folder), session_(*this, program_folder, data_folder, this),
      m_(session_.Module()) {
    setObjectName("FDisplay");
    setWindowTitle("Quorvel" + QString(98, ' '));
    setFont(LayoutFont("MS Sans Serif", 8, false));
    QPalette workspace = palette();
    workspace.setColor(QPalette::Window, kWorkspace);
    workspace.setColor(QPalette::Button, kWorkspace);
    workspace.setColor(QPalette::Disabled, QPalette::ButtonText, kDisabledCaption);
    setPalette(workspace);
    setAutoFillBackground(true);
    resize(Px(15240), Px(8490));

    BuildDisplayArea();
    BuildSettingsFrame();
    Connect();
    AddStationsShortcut(*this, program_folder, data_folder, [this](const QString& reason) {
        ReportProblem(m_, reason.toStdString(), "  Can't open Stations Program");
    });
}

FDisplay::~FDisplay() {
    session_.Close();
}

void FDisplay::BuildDisplayArea() {
    MakeTitle(this, "lblMessages", "Messages", Layout(240, 120, 2295, 375), true);
    lblVersion =
        MakeLabel(this, "lblVersion", QString("V ") + kVersion, Layout(14280, 120, 495, 255));
    lblDataFolder = MakeLabel(this, "lblDataFolder", "Data folder: " + data_folder_,
                              Layout(2640, 180, 11520, 255));
    lblDataFolder->setToolTip(data_folder_);
    lists_[static_cast<int>(ListId::lstOutput)] =
        MakeList(this, "lstOutput", Layout(240, 480, 14535, 645));

    MakeTitle(this, "lblCurrentMessage", "Current MANT Message", Layout(240, 1320, 3375, 375),
              true);
    texts_[static_cast<int>(TextBoxId::txtNMessage)] =
        Place(new QLineEdit(this), "txtNMessage", Layout(240, 1680, 14535, 285));

    MakeTitle(this, "lblHeaderInformation", "Header Information", Layout(240, 2160, 4095, 375),
              true);
    const QLabel* header_columns =
        MakeTitle(this, "lblHeaderColumns", kHeaderColumns, Layout(480, 2520, 15855, 375), false);
    auto* message_list = MakeList(this, "lstMessage", Layout(240, 2880, 14535, 960));
    message_list->setFont(LayoutFont("MS Sans Serif", 12, true));
    // Every column after the receive time follows a TAB.
    message_list->setItemDelegate(new HeadingColumnsDelegate(*header_columns, 1, message_list));
    lists_[static_cast<int>(ListId::lstMessage)] = message_list;

    MakeTitle(this, "lblSensorReports", "Sensor Reports", Layout(240, 4080, 4095, 375), true);
    const QLabel* report_columns =
        MakeTitle(this, "lblReportColumns", kReportColumns, Layout(240, 4440, 8415, 375), false);
    auto* report_list = MakeList(this, "lstReport", Layout(240, 4800, 9015, 3360));
    report_list->setFont(LayoutFont("MS Sans Serif", 12, true));
    // Four blanks, not a TAB, part the reading time from the source.
    report_list->setItemDelegate(new HeadingColumnsDelegate(*report_columns, 2, report_list));
    lists_[static_cast<int>(ListId::lstReport)] = report_list;
}

void FDisplay::BuildSettingsFrame() {
    fraSettings = Place(new QGroupBox(this), "fraSettings", Layout(9360, 3840, 5535, 4335));
    QWidget* f = fraSettings;
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignTop;
    const Qt::Alignment centre = Qt::AlignHCenter | Qt::AlignTop;

    struct NameRow {
        const char* label_name;
        const char* caption;
        int label_left;
        int label_width;
        Qt::Alignment align;
        TextBoxId box;
        const char* box_name;
        int top;
    };
    const NameRow rows[] = {
        {"lblDecoderName", "Decoder Name", 240, 1095, Qt::AlignLeft | Qt::AlignTop,
         TextBoxId::txtAppName, "txtAppName", 240},
        {"lblExchangeFile", "Exchange File", 240, 1095, right, TextBoxId::txtInputFile,
         "txtInputFile", 600},
        {"lblRawDataLog", "Raw Data Log", 240, 1095, right, TextBoxId::txtRawDataFile,
         "txtRawDataFile", 960},
        {"lblHeaderLog", "Header Log", 360, 975, right, TextBoxId::txtMsgFile, "txtMsgFile", 1320},
        {"lblReportLog", "Report Log", 360, 975, right, TextBoxId::txtReportFile, "txtReportFile",
         1680},
    };
    for (const NameRow& row : rows) {
        MakeLabel(f, row.label_name, row.caption,
                  Layout(row.label_left, row.top, row.label_width, 255), row.align);
        texts_[static_cast<int>(row.box)] =
            Place(new QLineEdit(f), row.box_name, Layout(1440, row.top, 3975, 285));
    }

    fraTime = Place(new QGroupBox("Time", f), "fraTime", Layout(1560, 2040, 2295, 1095));
    options_[static_cast<int>(OptionId::optSystemTz)] =
        Place(new QRadioButton("Use System Time Zone", fraTime), "optSystemTz",
              Layout(120, 240, 2055, 255));
    options_[static_cast<int>(OptionId::optUseOffset)] = Place(
        new QRadioButton("Use GMT Offset", fraTime), "optUseOffset", Layout(120, 600, 1455, 375));
    texts_[static_cast<int>(TextBoxId::txtGMTOffset)] =
        Place(new QLineEdit(fraTime), "txtGMTOffset", Layout(1800, 600, 375, 375));

    fraLogs = Place(new QGroupBox("Log", f), "fraLogs", Layout(4080, 2040, 1335, 1095));
    options_[static_cast<int>(OptionId::OptSelected)] =
        Place(new QRadioButton("Selected", fraLogs), "OptSelected", Layout(120, 240, 975, 375));
    options_[static_cast<int>(OptionId::optDisplayed)] =
        Place(new QRadioButton("Displayed", fraLogs), "optDisplayed", Layout(120, 600, 1095, 375));
    for (QRadioButton* option : options_) {
        // The groups are kept by SetOption: clearing an option never selects its partner.
        option->setAutoExclusive(false);
    }
    SetOption(OptionId::optSystemTz, true);
    SetOption(OptionId::OptSelected, true);

    auto* filter_label = MakeLabel(f, "lblSourceAddressFilter", "Source Address Filter",
                                   Layout(360, 2160, 975, 375), centre);
    filter_label->setWordWrap(true);
    texts_[static_cast<int>(TextBoxId::txtFilter)] =
        Place(new QLineEdit(f), "txtFilter", Layout(480, 2640, 735, 285));
    cmbPortSelect = Place(new PortComboBox(f), "cmbPortSelect", Layout(480, 3240, 975, 315));
    MakeLabel(f, "lblSelectPort", "Select Port", Layout(480, 3600, 975, 255), centre);
    auto* clock = Place(new QLineEdit(f), "txtClock", Layout(600, 3960, 855, 255));
    QPalette clock_palette = clock->palette();
    clock_palette.setColor(QPalette::Base, kWorkspace);
    clock->setPalette(clock_palette);
    texts_[static_cast<int>(TextBoxId::txtClock)] = clock;

    cmdStart = MakeButton(f, "cmdStart", "Start", Layout(1920, 3240, 1335, 255));
    cmdPause = MakeButton(f, "cmdPause", "Pause", Layout(1920, 3600, 1335, 255));
    cmdEnd = MakeButton(f, "cmdEnd", "End", Layout(1920, 3960, 1335, 255));
    cmdSaveSettings =
        MakeButton(f, "cmdSaveSettings", "Save Settings", Layout(3600, 3240, 1335, 255));
    cmdDefaults = MakeButton(f, "cmdDefaults", "Restore Defaults", Layout(3600, 3600, 1335, 255));
    cmdClear = MakeButton(f, "cmdClear", "Clear Screen", Layout(3600, 3960, 1335, 255));
}

void FDisplay::Connect() {
    connect(cmdStart, &QPushButton::clicked, this, &FDisplay::OnStart);
    connect(cmdPause, &QPushButton::clicked, this, &FDisplay::OnPause);
    connect(cmdEnd, &QPushButton::clicked, this, &FDisplay::OnEnd);
    connect(cmdClear, &QPushButton::clicked, this, &FDisplay::OnClear);
    connect(cmdSaveSettings, &QPushButton::clicked, this, [this] { SaveSettings(*this); });
    connect(cmdDefaults, &QPushButton::clicked, this, [this] { RestoreDefaults(*this); });
    connect(&session_, &DisplaySession::ticked, this, [this] {
        SetText(TextBoxId::txtClock, QTime::currentTime().toString("hh:mm:ss").toStdString());
    });
    connect(&session_, &DisplaySession::cycleFinished, this, &FDisplay::OnCycleFinished);
    connect(cmbPortSelect, &PortComboBox::aboutToShowPopup, this, &FDisplay::FillPortList);
    connect(cmbPortSelect, &QComboBox::activated, this, &FDisplay::OnPortChosen);
    for (std::size_t i = 0; i < options_.size(); ++i) {
        const auto option = static_cast<OptionId>(i);
        // A click always selects, as an option button does.
        connect(options_[i], &QRadioButton::clicked, this,
                [this, option] { SetOption(option, true); });
    }
    connect(List(ListId::lstOutput), &QListWidget::itemDoubleClicked, this,
            [this] { SaveRawReport(m_); });
    connect(List(ListId::lstMessage), &QListWidget::itemDoubleClicked, this,
            [this] { SaveMessage(m_); });
    connect(List(ListId::lstReport), &QListWidget::itemDoubleClicked, this,
            [this] { SaveReport(m_); });
}

// Each load step is skipped when it fails; the next one still runs.
void FDisplay::Load() {
    SizeAndCentre();
    frame_pending_ = FrameMargins(*this).isNull();
    try {
        LoadSettings(*this);
    } catch (const std::exception&) {
    }
    FillPortList();
    ShowDataFolderProblem();
}

// Said once at start, so the reason is known before a decoder fails on it.
void FDisplay::ShowDataFolderProblem() {
    const QString problem = DataFolderProblem(data_folder_);
    if (problem.isEmpty()) {
        return;
    }
    ReportProblem(m_, problem.toStdString(),
                  ("  Can't use data folder " + data_folder_).toStdString());
    lblDataFolder->setText(lblDataFolder->text() + " (" + problem + ")");
    QPalette marked = lblDataFolder->palette();
    marked.setColor(QPalette::WindowText, kProblemText);
    lblDataFolder->setPalette(marked);
}

// The outer width and the centring count the window's frame.
void FDisplay::SizeAndCentre() {
    const QMargins frame = FrameMargins(*this);
    resize(Px(kOuterWidthTwips) - frame.left() - frame.right(), height());
    if (const QScreen* screen_now = screen()) {
        const QRect area = screen_now->geometry();
        const QSize outer = frameGeometry().size();
        const QPoint corner(area.x() + static_cast<int>((area.width() - outer.width()) / 2.0),
                            area.y() + static_cast<int>((area.height() - outer.height()) / 2.0));
        if (QWindow* window = windowHandle()) {
            window->setFramePosition(corner);
        } else {
            move(corner);
        }
    }
}

void FDisplay::AdoptFrameLater() {
    if (frame_pending_) {
        QMetaObject::invokeMethod(this, &FDisplay::AdoptFrame, Qt::QueuedConnection);
    }
}

// A window manager frames the window only once it is shown; the load's sizes
// are worked out again with the frame when it first appears.
void FDisplay::AdoptFrame() {
    if (!frame_pending_ || !isVisible() || FrameMargins(*this).isNull()) {
        return;
    }
    frame_pending_ = false;
    SizeAndCentre();
    ApplyResizeRules();
}

void FDisplay::FillPortList() {
    cmbPortSelect->clear();
    for (const PortEntry& entry : ProbePorts()) {
        cmbPortSelect->addItem(entry.name);
        cmbPortSelect->setItemData(cmbPortSelect->count() - 1, entry.device, Qt::ToolTipRole);
    }
    cmbPortSelect->setCurrentIndex(-1); // filling chooses no port
}

void FDisplay::StartDecoder(int port) {
    if (Decoders().StartDecoder(port)) {
        cmdStart->setEnabled(true);
    }
}

void FDisplay::CloseDecoder() {
    Decoders().CloseDecoder();
}

void FDisplay::OnPortChosen(int index) {
    const QString entry = cmbPortSelect->itemText(index);
    if (entry.startsWith("COM")) {
        StartDecoder(entry.mid(3).toInt());
    }
}

// Showing, and a window manager framing the window, move or resize it; the
// frame is taken up after the platform has placed the window.
void FDisplay::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    AdoptFrameLater();
}

void FDisplay::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    AdoptFrameLater();
}

void FDisplay::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ApplyResizeRules();
    AdoptFrameLater();
}

void FDisplay::ApplyResizeRules() {
    const QRect outer = frameGeometry();
    // Heights above the 16-bit twip range are an overflow: that step is skipped.
    const int report_twips = std::max(0, Twips(outer.height()) - 7000 + 1500);
    if (report_twips <= 32767) {
        QListWidget* report = List(ListId::lstReport);
        report->resize(report->width(), Px(report_twips));
    }
    const int wide = Px(13695 + Twips(outer.width()) - 14220);
    List(ListId::lstOutput)->resize(wide, List(ListId::lstOutput)->height());
    texts_[static_cast<int>(TextBoxId::txtNMessage)]->resize(
        wide, texts_[static_cast<int>(TextBoxId::txtNMessage)]->height());
    List(ListId::lstMessage)->resize(wide, List(ListId::lstMessage)->height());
    // Once a decoder runs, Start stays as it was: a user who resizes while
    // paused must be able to resume without starting a further decoder.
    if (!Decoders().AnyStarted()) {
        cmdStart->setEnabled(false);
    }
}

void FDisplay::OnStart() {
    session_.StartChecking();
    cmdStart->setEnabled(false);
    cmdPause->setEnabled(true);
}

void FDisplay::OnPause() {
    session_.PauseChecking();
    cmdStart->setEnabled(true);
    cmdPause->setEnabled(false);
}

void FDisplay::OnEnd() {
    session_.Close();
    emit ended();
}

void FDisplay::closeEvent(QCloseEvent* event) {
    session_.Close();
    event->accept();
}

void FDisplay::OnClear() {
    SetText(TextBoxId::txtNMessage, "");
    Clear(ListId::lstReport);
    Clear(ListId::lstMessage);
    Clear(ListId::lstOutput);
}

void FDisplay::OnCycleFinished() {
    if (lists_held_) {
        lists_held_ = false;
        for (QListWidget* list : lists_) {
            static_cast<RecordList*>(list)->ReleaseLayout();
        }
    }
    if (held_message_) {
        SetText(TextBoxId::txtNMessage, *held_message_);
        held_message_.reset();
    }
}

// The first change of a list in a tick holds all three until its end; a tick
// that finds nothing leaves them alone. Clicks are still handled while the
// cycle trims them.
void FDisplay::HoldListsForTick() {
    if (session_.CycleRunning() && !lists_held_) {
        lists_held_ = true;
        for (QListWidget* list : lists_) {
            static_cast<RecordList*>(list)->HoldLayout();
        }
    }
}

// Controls -------------------------------------------------------------------

QListWidget* FDisplay::List(ListId list) const {
    return lists_[static_cast<int>(list)];
}

QListWidget* FDisplay::CheckedList(ListId list, int index) const {
    QListWidget* widget = List(list);
    if (index < 0 || index >= widget->count()) {
        throw std::out_of_range("list index out of range");
    }
    return widget;
}

void FDisplay::InsertTop(ListId list, const std::string& text) {
    HoldListsForTick();
    List(list)->insertItem(0, MakeItem(text));
}

int FDisplay::Count(ListId list) const {
    return List(list)->count();
}

void FDisplay::Remove(ListId list, int index) {
    HoldListsForTick();
    delete CheckedList(list, index)->takeItem(index);
}

void FDisplay::Clear(ListId list) {
    HoldListsForTick();
    List(list)->clear();
}

std::string FDisplay::Entry(ListId list, int index) const {
    return CheckedList(list, index)->item(index)->data(kBytesRole).toByteArray().toStdString();
}

void FDisplay::ReplaceEntry(ListId list, int index, const std::string& text) {
    HoldListsForTick();
    QListWidgetItem* item = CheckedList(list, index)->item(index);
    const QByteArray bytes = QByteArray::fromStdString(text);
    item->setText(QString::fromUtf8(bytes));
    item->setData(kBytesRole, bytes);
}

int FDisplay::SelectedIndex(ListId list) const {
    const QList<QListWidgetItem*> selected = List(list)->selectedItems();
    return selected.isEmpty() ? -1 : List(list)->row(selected.first());
}

void FDisplay::SetSelected(ListId list, int index, bool selected) {
    QListWidget* widget = CheckedList(list, index);
    if (selected) {
        widget->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    } else {
        widget->item(index)->setSelected(false);
    }
}

std::string FDisplay::Text(TextBoxId box) const {
    if (box == TextBoxId::txtNMessage && held_message_) {
        return *held_message_;
    }
    return texts_[static_cast<int>(box)]->text().toStdString();
}

void FDisplay::SetText(TextBoxId box, const std::string& text) {
    if (box == TextBoxId::txtNMessage && session_.CycleRunning()) {
        held_message_ = text;
        return;
    }
    QLineEdit* edit = texts_[static_cast<int>(box)];
    edit->setText(QString::fromStdString(text));
    edit->setCursorPosition(0); // a long N record shows from its start
}

bool FDisplay::IsSelected(OptionId option) const {
    return options_[static_cast<int>(option)]->isChecked();
}

void FDisplay::SetOption(OptionId option, bool selected) {
    static constexpr OptionId kPartner[] = {OptionId::optUseOffset, OptionId::optSystemTz,
                                            OptionId::optDisplayed, OptionId::OptSelected};
    options_[static_cast<int>(option)]->setChecked(selected);
    if (selected) {
        options_[static_cast<int>(kPartner[static_cast<int>(option)])]->setChecked(false);
    }
}

void FDisplay::Beep() {
    QApplication::beep();
}

void FDisplay::ProcessEvents() {
    QCoreApplication::processEvents();
}

std::string FDisplay::DataFolder() const {
    return data_folder_.toStdString();
}

} // namespace veltaro
