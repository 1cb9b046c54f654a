#include "gui/TfmCampaignEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "app/CampaignEditor.h"
#include "app/DateTime.h"
#include "app/DeviceTypeFilter.h"
#include "gui/GuiImages.h"
#include "gui/TfmMain.h"

namespace kavri::gui {

namespace {

constexpr int kClientWidth = 511;
constexpr int kLogoSize = 128;
// The sky blue of the logo's frame, the rules and the sections' borders.
const QColor kSkyBlue(166, 202, 240);
const QString kSectionStyle = QStringLiteral(
    "QGroupBox { border: 1px solid rgb(166, 202, 240); margin-top: 1ex; padding-top: 1ex; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0; background: white; }");

QDate ToDate(TDateTime value) {
    const std::optional<DateTimeParts> parts = value.DatePart().Parts();
    return parts ? QDate(parts->Year, parts->Month, parts->Day) : QDate(1899, 12, 30);
}

QTime ToTime(TDateTime value) {
    const std::optional<DateTimeParts> parts = value.TimePart().Parts();
    return parts ? QTime(parts->Hour, parts->Minute, parts->Second, parts->Millisecond)
                 : QTime(0, 0);
}

TDateTime FromDate(QDate date) {
    return TDateTime::FromDate(date.year(), date.month(), date.day()).value_or(TDateTime());
}

TDateTime FromTime(QTime time) {
    return TDateTime::FromTime(time.hour(), time.minute(), time.second(), time.msec())
        .value_or(TDateTime());
}

// The regional short date, always with the century, so that no stored year
// is shown ambiguously.
QString DateDisplayFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy"))) {
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    }
    return format;
}

QDateEdit* DatePicker(QWidget* parent) {
    auto* picker = new QDateEdit(parent);
    picker->setCalendarPopup(true);
    picker->setDateRange(QDate(TDateTime::kMinYear, 1, 1), QDate(TDateTime::kMaxYear, 12, 31));
    picker->setDisplayFormat(DateDisplayFormat());
    return picker;
}

QTimeEdit* TimePicker(QWidget* parent) {
    auto* picker = new QTimeEdit(parent);
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return picker;
}

QFrame* Rule(QWidget* parent, Qt::Orientation orientation) {
    auto* rule = new QFrame(parent);
    rule->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    rule->setFrameShadow(QFrame::Plain);
    QPalette colours = rule->palette();
    colours.setColor(QPalette::WindowText, kSkyBlue);
    rule->setPalette(colours);
    return rule;
}

}  // namespace

TfmCampaignEditor::TfmCampaignEditor(TfmMain& main, std::unique_ptr<CampaignEditor> editor,
                                     int designHeight, std::string_view titleKey,
                                     const char* builtInTitle)
    : QDialog(&main), m_main(main), m_editor(std::move(editor)), m_designHeight(designHeight) {
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setWindowTitle(Text(titleKey, builtInTitle));

    CreateControls();
    CreateLayout();
    ApplyTexts();
    ShowValues();
}

TfmCampaignEditor::~TfmCampaignEditor() = default;

void TfmCampaignEditor::CreateControls() {
    edCampaignName = new QLineEdit(this);
    cbEnabled = new QCheckBox(this);
    cbScheduling = new QComboBox(this);
    pcScheduling = new QStackedWidget(this);

    auto* tsPermanent = new QWidget(pcScheduling);
    laPermanent = new QLabel(tsPermanent);
    laPermanent->setWordWrap(true);
    laPermanent->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* permanentLayout = new QVBoxLayout(tsPermanent);
    permanentLayout->addWidget(laPermanent);
    permanentLayout->addStretch();

    auto* tsTimeBased = new QWidget(pcScheduling);
    m_startDateTimeLabel = new QLabel(tsTimeBased);
    m_endDateTimeLabel = new QLabel(tsTimeBased);
    dtpStartDate = DatePicker(tsTimeBased);
    dtpStartTime = TimePicker(tsTimeBased);
    dtpEndDate = DatePicker(tsTimeBased);
    dtpEndTime = TimePicker(tsTimeBased);
    auto* timeBasedLayout = new QGridLayout(tsTimeBased);
    timeBasedLayout->addWidget(m_startDateTimeLabel, 0, 0);
    timeBasedLayout->addWidget(dtpStartDate, 0, 1);
    timeBasedLayout->addWidget(dtpStartTime, 0, 2);
    timeBasedLayout->addWidget(m_endDateTimeLabel, 1, 0);
    timeBasedLayout->addWidget(dtpEndDate, 1, 1);
    timeBasedLayout->addWidget(dtpEndTime, 1, 2);
    timeBasedLayout->setColumnStretch(3, 1);
    timeBasedLayout->setRowStretch(2, 1);

    auto* tsDayOfWeek = new QWidget(pcScheduling);
    cbMon = new QCheckBox(tsDayOfWeek);
    cbTue = new QCheckBox(tsDayOfWeek);
    cbWed = new QCheckBox(tsDayOfWeek);
    cbThu = new QCheckBox(tsDayOfWeek);
    cbFri = new QCheckBox(tsDayOfWeek);
    cbSat = new QCheckBox(tsDayOfWeek);
    cbSun = new QCheckBox(tsDayOfWeek);
    m_days = {cbSun, cbMon, cbTue, cbWed, cbThu, cbFri, cbSat};
    m_startTimeLabel = new QLabel(tsDayOfWeek);
    m_endTimeLabel = new QLabel(tsDayOfWeek);
    dtpStart = TimePicker(tsDayOfWeek);
    dtpEnd = TimePicker(tsDayOfWeek);
    auto* days = new QHBoxLayout;
    for (QCheckBox* day : {cbMon, cbTue, cbWed, cbThu, cbFri, cbSat, cbSun}) {
        days->addWidget(day);
    }
    days->addStretch();
    auto* dailyLayout = new QGridLayout(tsDayOfWeek);
    dailyLayout->addLayout(days, 0, 0, 1, 4);
    dailyLayout->addWidget(m_startTimeLabel, 1, 0);
    dailyLayout->addWidget(dtpStart, 1, 1);
    dailyLayout->addWidget(m_endTimeLabel, 2, 0);
    dailyLayout->addWidget(dtpEnd, 2, 1);
    dailyLayout->setColumnStretch(3, 1);
    dailyLayout->setRowStretch(3, 1);

    pcScheduling->addWidget(tsPermanent);
    pcScheduling->addWidget(tsTimeBased);
    pcScheduling->addWidget(tsDayOfWeek);

    btOK = new QPushButton(this);
    btCancel = new QPushButton(this);
    btOK->setDefault(true);
    btCancel->setAutoDefault(false);

    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    // activated fires for the operator's choices only, never for a load.
    connect(cbScheduling, &QComboBox::activated, this, [this](int index) {
        pcScheduling->setCurrentIndex(index);
        pcScheduling->setVisible(true);
    });
    connect(dtpStartDate, &QDateEdit::dateChanged, this, &TfmCampaignEditor::WindowDatesChanged);
    connect(dtpEndDate, &QDateEdit::dateChanged, this, &TfmCampaignEditor::WindowDatesChanged);
    connect(dtpStartTime, &QTimeEdit::timeChanged, this, &TfmCampaignEditor::WindowTimesChanged);
    connect(dtpEndTime, &QTimeEdit::timeChanged, this, &TfmCampaignEditor::WindowTimesChanged);
    connect(dtpStart, &QTimeEdit::timeChanged, this, &TfmCampaignEditor::DailyTimesChanged);
    connect(dtpEnd, &QTimeEdit::timeChanged, this, &TfmCampaignEditor::DailyTimesChanged);
}

void TfmCampaignEditor::CreateLayout() {
    m_logo = new QLabel(this);
    m_logo->setFixedSize(kLogoSize + 2, kLogoSize + 2);
    m_logo->setPixmap(EditorPicture().pixmap(kLogoSize, kLogoSize));
    m_logo->setAlignment(Qt::AlignCenter);
    m_logo->setStyleSheet(QStringLiteral("border: 1px solid rgb(166, 202, 240);"));

    m_detailsBox = new QGroupBox(this);
    m_detailsBox->setStyleSheet(kSectionStyle);
    m_nameLabel = new QLabel(m_detailsBox);
    m_nameLabel->setBuddy(edCampaignName);
    m_details = new QGridLayout(m_detailsBox);
    m_details->addWidget(m_nameLabel, 0, 0);
    m_details->addWidget(edCampaignName, 0, 1, 1, 3);
    m_details->setColumnStretch(1, 1);

    // Boxes rather than a typed list: the operator sees every type there is
    // and cannot misspell one.
    m_deviceTypesLabel = new QLabel(m_detailsBox);
    auto* types = new QGridLayout;
    constexpr int kTypesPerRow = 5;
    for (std::size_t i = 0; i < cbDeviceTypes.size(); ++i) {
        // The stored names, as kavrictl takes them; not language texts.
        cbDeviceTypes[i] = new QCheckBox(
            QString::fromUtf8(DeviceTypeFilter::kNames[i].data(),
                              static_cast<qsizetype>(DeviceTypeFilter::kNames[i].size())),
            m_detailsBox);
        const int index = static_cast<int>(i);
        types->addWidget(cbDeviceTypes[i], index / kTypesPerRow, index % kTypesPerRow);
    }
    m_deviceTypesHint = new QLabel(m_detailsBox);
    types->addWidget(m_deviceTypesHint, 2, 0, 1, kTypesPerRow);
    m_details->addWidget(m_deviceTypesLabel, 1, 0, Qt::AlignTop);
    m_details->addLayout(types, 1, 1, 1, 3);

    m_schedulingBox = new QGroupBox(this);
    m_schedulingBox->setStyleSheet(kSectionStyle);
    auto* scheduling = new QVBoxLayout(m_schedulingBox);
    scheduling->addWidget(cbScheduling);
    scheduling->addWidget(pcScheduling, 1);

    auto* sections = new QVBoxLayout;
    sections->addWidget(m_detailsBox);
    sections->addWidget(m_schedulingBox, 1);

    auto* logoColumn = new QVBoxLayout;
    logoColumn->addWidget(m_logo);
    logoColumn->addStretch();

    auto* top = new QHBoxLayout;
    top->addLayout(logoColumn);
    top->addWidget(Rule(this, Qt::Vertical));
    top->addLayout(sections, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btOK);
    buttons->addWidget(btCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(cbEnabled);
    layout->addWidget(Rule(this, Qt::Horizontal));
    layout->addLayout(buttons);
}

int TfmCampaignEditor::NextDetailsRow() const {
    return m_details->rowCount();
}

void TfmCampaignEditor::ApplyTexts() {
    // The blanks leave a gap in the section's border on both sides of its title.
    m_detailsBox->setTitle(QLatin1Char(' ') + Text("Campaign_Details", "Campaign details") +
                           QLatin1Char(' '));
    m_schedulingBox->setTitle(QLatin1Char(' ') + Text("Scheduling", "Scheduling") +
                              QLatin1Char(' '));
    m_nameLabel->setText(Text("Campaign_Name", "Campaign name"));
    m_deviceTypesLabel->setText(Text("Device_Types", "Device types"));
    m_deviceTypesHint->setText(Text("Device_Types_All", "None ticked: every type"));
    cbEnabled->setText(Text("Enabled", "Enabled"));
    laPermanent->setText(
        Text("Permanent", "This campaign will be running continuous after starting"));
    m_startDateTimeLabel->setText(Text("Start_DateTime", "Start date/time"));
    m_endDateTimeLabel->setText(Text("End_DateTime", "End date/time"));
    m_startTimeLabel->setText(Text("StartTime", "Start time"));
    m_endTimeLabel->setText(Text("EndTime", "End time"));
    cbMon->setText(Text("Mon", "Mon"));
    cbTue->setText(Text("Tue", "Tue"));
    cbWed->setText(Text("Wed", "Wed"));
    cbThu->setText(Text("Thu", "Thu"));
    cbFri->setText(Text("Fri", "Fri"));
    cbSat->setText(Text("Sat", "Sat"));
    cbSun->setText(Text("Sun", "Sun"));
    cbScheduling->clear();
    cbScheduling->addItems({Text("Continuous", "Continuous"), Text("Time_Based", "Time based"),
                            Text("Day_Of_Weeek_Based", "Day of week based")});
    btOK->setText(Text("OK", "&OK"));
    btCancel->setText(Text("Cancel", "&Cancel"));
}

void TfmCampaignEditor::FitToTexts() {
    if (QLayout* grid = layout()) {
        grid->invalidate();
        grid->activate();
    }
    const QSize needed = minimumSizeHint().expandedTo(QSize(kClientWidth, m_designHeight));
    setFixedSize(needed);
}

QString TfmCampaignEditor::Text(std::string_view key, const char* builtIn) const {
    return m_main.Text(key, builtIn);
}

void TfmCampaignEditor::Report(const Result& result) {
    if (!result) {
        m_main.ShowError(QString::fromStdString(result.Message));
    }
}

Result TfmCampaignEditor::Edit(std::string_view name) {
    if (Result loaded = m_editor->Load(name); !loaded) {
        return loaded;
    }
    ShowValues();
    edCampaignName->setEnabled(false);
    ShowOwn();
    return Result::Success();
}

// Puts the editor's common values into the controls as they are, without the
// end-after-start rules.
void TfmCampaignEditor::ShowValues() {
    const CampaignRecord& values = m_editor->Values();
    const QSignalBlocker blockers[] = {QSignalBlocker(dtpStartDate), QSignalBlocker(dtpStartTime),
                                       QSignalBlocker(dtpEndDate),   QSignalBlocker(dtpEndTime),
                                       QSignalBlocker(dtpStart),     QSignalBlocker(dtpEnd)};
    edCampaignName->setText(QString::fromStdString(m_editor->CampaignName()));
    const int mode = values.Scheduling;
    const bool known = mode >= 0 && mode < cbScheduling->count();
    cbScheduling->setCurrentIndex(known ? mode : -1);
    pcScheduling->setCurrentIndex(known ? mode : 0);
    pcScheduling->setVisible(known);
    dtpStartDate->setDate(ToDate(values.StartDateTime));
    dtpStartTime->setTime(ToTime(values.StartDateTime));
    dtpEndDate->setDate(ToDate(values.EndDateTime));
    dtpEndTime->setTime(ToTime(values.EndDateTime));
    dtpStart->setTime(ToTime(values.StartTime));
    dtpEnd->setTime(ToTime(values.EndTime));
    for (std::size_t day = 0; day < m_days.size(); ++day) {
        m_days[day]->setChecked(values.Days[day]);
    }
    cbEnabled->setChecked(values.Enabled);
    const DeviceTypeFilter types = DeviceTypeFilter::FromStored(values.DeviceTypes);
    for (std::size_t i = 0; i < cbDeviceTypes.size(); ++i) {
        cbDeviceTypes[i]->setChecked(types.Includes(i));
    }
}

void TfmCampaignEditor::CollectValues() {
    CampaignRecord& values = m_editor->Values();
    if (!m_editor->IsEditing()) {
        values.Name = edCampaignName->text().toStdString();
    }
    values.Scheduling = cbScheduling->currentIndex();
    values.StartDateTime =
        TDateTime::Combine(FromDate(dtpStartDate->date()), FromTime(dtpStartTime->time()));
    values.EndDateTime =
        TDateTime::Combine(FromDate(dtpEndDate->date()), FromTime(dtpEndTime->time()));
    values.StartTime = FromTime(dtpStart->time());
    values.EndTime = FromTime(dtpEnd->time());
    for (std::size_t day = 0; day < m_days.size(); ++day) {
        values.Days[day] = m_days[day]->isChecked();
    }
    values.Enabled = cbEnabled->isChecked();
    DeviceTypeFilter types;
    for (std::size_t i = 0; i < cbDeviceTypes.size(); ++i) {
        types.Set(i, cbDeviceTypes[i]->isChecked());
    }
    values.DeviceTypes = types.Text();
}

// Shows the ends the rules may have moved; starts are never moved.
void TfmCampaignEditor::ShowEnds() {
    const CampaignRecord& values = m_editor->Values();
    const QSignalBlocker blockers[] = {QSignalBlocker(dtpEndDate), QSignalBlocker(dtpEndTime),
                                       QSignalBlocker(dtpEnd)};
    dtpEndDate->setDate(ToDate(values.EndDateTime));
    dtpEndTime->setTime(ToTime(values.EndDateTime));
    dtpEnd->setTime(ToTime(values.EndTime));
}

void TfmCampaignEditor::DailyTimesChanged() {
    CollectValues();
    m_editor->DailyTimesChanged();
    ShowEnds();
}

void TfmCampaignEditor::WindowDatesChanged() {
    CollectValues();
    m_editor->WindowDatesChanged();
    ShowEnds();
}

void TfmCampaignEditor::WindowTimesChanged() {
    CollectValues();
    m_editor->WindowTimesChanged();
    ShowEnds();
}

void TfmCampaignEditor::done(int result) {
    if (result != QDialog::Accepted) {
        QDialog::done(result);
        return;
    }
    CollectValues();
    CollectOwn();
    if (const Result saved = m_editor->Save(); !saved) {
        Report(saved);
        return;
    }
    QDialog::done(result);
}

}  // namespace kavri::gui
