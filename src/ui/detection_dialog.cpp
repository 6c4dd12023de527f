#include "ui/detection_dialog.h"

#include "ui/area_canvas.h"
#include "ui_UF_Detection.h"

#include <QPushButton>

namespace vistrel {

namespace {

// Ten-thousandths as a percentage, without trailing zeros: "12.5 %".
QString Percent(int32_t part) {
    QString text = QString::number(part / 100.0, 'f', 2);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    return text + QStringLiteral(" %");
}

QString Kind_Caption(Area_Kind kind) {
    switch (kind) {
    case Area_Kind::Watch:
        return QStringLiteral("Watch");
    case Area_Kind::Ignore:
        return QStringLiteral("Ignore");
    case Area_Kind::Hide:
        return QStringLiteral("Hide");
    }
    return {};
}

} // namespace

QString Area_Text(const Detection_Area& area) {
    return Kind_Caption(area.kind) + ' ' + Percent(area.x) + QStringLiteral(", ") +
           Percent(area.y) + QStringLiteral(" – ") + Percent(area.w) + QStringLiteral(" × ") +
           Percent(area.h);
}

TF_Detection::TF_Detection(const Detection_Settings& settings, QWidget* owner)
    : QDialog(owner), ui_(std::make_unique<Ui::F_Detection>()), measured_(settings.areas),
      areas_(settings.areas) {
    ui_->setupUi(this);
    if (areas_.size() > kMost_Areas)
        areas_.resize(kMost_Areas);
    ui_->CKB_Ignore_Light->setChecked(settings.ignore_light);
    ui_->SPN_Pre_Capture->setRange(0, Detection_Settings::kMost_Pre_Capture);
    ui_->SPN_Pre_Capture->setValue(settings.pre_capture);
    ui_->LBL_Too_Many->setStyleSheet(QStringLiteral("color: #ff6060; font-weight: bold;"));
    Area_Canvas* canvas = ui_->CNV_Areas;
    connect(canvas, &Area_Canvas::Area_Drawn, this, &TF_Detection::Add_Area);
    connect(ui_->BTN_Remove, &QPushButton::clicked, this, &TF_Detection::Remove_Selected);
    connect(ui_->LST_Areas, &QListWidget::itemSelectionChanged, this,
            &TF_Detection::Show_Selection);
    for (QRadioButton* kind : {ui_->RBN_Watch, ui_->RBN_Ignore, ui_->RBN_Hide})
        connect(kind, &QRadioButton::toggled, this,
                [this] { ui_->CNV_Areas->Set_Draw_Kind(Draw_Kind()); });
    canvas->Set_Draw_Kind(Draw_Kind());
    Show_Areas();
}

TF_Detection::~TF_Detection() = default;

Detection_Settings TF_Detection::Settings() const {
    Detection_Settings settings;
    settings.ignore_light = ui_->CKB_Ignore_Light->isChecked();
    settings.pre_capture = ui_->SPN_Pre_Capture->value();
    settings.areas = areas_;
    return settings;
}

void TF_Detection::Show_Live(const QImage& frame, const Motion_Reading& reading) {
    reading_ = reading;
    ui_->CNV_Areas->Set_Frame(frame);
    ui_->CNV_Areas->Set_Areas(areas_, Level_Labels(areas_, measured_, reading_.watch_levels));
}

Area_Kind TF_Detection::Draw_Kind() const {
    if (ui_->RBN_Ignore->isChecked())
        return Area_Kind::Ignore;
    if (ui_->RBN_Hide->isChecked())
        return Area_Kind::Hide;
    return Area_Kind::Watch;
}

void TF_Detection::Add_Area(const Detection_Area& area) {
    if (areas_.size() >= kMost_Areas)
        return;
    areas_.push_back(area);
    Show_Areas();
}

void TF_Detection::Remove_Selected() {
    const int row = Selected_Row();
    if (row < 0 || row >= static_cast<int>(areas_.size()))
        return;
    areas_.erase(areas_.begin() + row);
    Show_Areas();
}

void TF_Detection::Show_Areas() {
    {
        // Refilling the list must not highlight rows on the way.
        const QSignalBlocker quiet(ui_->LST_Areas);
        ui_->LST_Areas->clear();
        for (const Detection_Area& area : areas_)
            ui_->LST_Areas->addItem(Area_Text(area));
        ui_->LST_Areas->setCurrentRow(-1);
    }
    ui_->LBL_Too_Many->setVisible(areas_.size() >= kMost_Areas);
    ui_->CNV_Areas->Set_Areas(areas_, Level_Labels(areas_, measured_, reading_.watch_levels));
    Show_Selection();
}

int TF_Detection::Selected_Row() const {
    const QList<QListWidgetItem*> selected = ui_->LST_Areas->selectedItems();
    return selected.isEmpty() ? -1 : ui_->LST_Areas->row(selected.front());
}

void TF_Detection::Show_Selection() {
    const int row = Selected_Row();
    ui_->BTN_Remove->setEnabled(row >= 0);
    ui_->CNV_Areas->Set_Highlighted(row);
}

} // namespace vistrel
