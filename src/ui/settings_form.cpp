#include "ui/settings_form.h"

#include "settings/shared_settings.h"
#include "ui/folder_edit.h"
#include "ui_UF_Main.h"

namespace vistrel {

namespace {

// An integer edit's value: 0 when its text is empty or not an integer.
int32_t Integer_Value(const QLineEdit* edit) {
    bool ok = false;
    const int value = edit->text().toInt(&ok);
    return ok ? value : 0;
}

void Set_Integer_Value(QLineEdit* edit, int32_t value) {
    edit->setText(QString::number(value));
}

// A stored value outside the group leaves every button of it unchecked, which
// exclusive buttons refuse unless told otherwise.
void Set_Radio(QAbstractButton* button, bool checked) {
    const bool exclusive = button->autoExclusive();
    button->setAutoExclusive(false);
    button->setChecked(checked);
    button->setAutoExclusive(exclusive);
}

std::string Text_Of(const QLineEdit* edit) {
    return edit->text().toStdString();
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

Settings_Form::Settings_Form(Ui::F_Main& form, Shared_Settings& working, QObject* parent)
    : QObject(parent), ui_(form), working_(working) {
    for (QCheckBox* box : {ui_.CKB_Add_Time_Date, ui_.CKB_Sensitivity_Dark,
                           ui_.CKB_Use_Same_File_Name, ui_.CKB_Use_FTP})
        connect(box, &QCheckBox::toggled, this, [this] { Read_Parameters_From_Controls(); });
}

void Settings_Form::Show(const Stored_Settings& v) {
    Set_Radio(ui_.RBT_Rec_Launch_0, v.RBT_Rec_Launch == 0);
    Set_Radio(ui_.RBT_Rec_Launch_1, v.RBT_Rec_Launch == 1);
    Set_Radio(ui_.RBT_Rec_Launch_2, v.RBT_Rec_Launch == 2);
    Set_Radio(ui_.RBT_Mode_Start_0, v.RBT_Mode_Start == 0);
    Set_Radio(ui_.RBT_Mode_Start_1, v.RBT_Mode_Start == 1);
    ui_.DED_Dest_Folder->setPath(Text(v.DED_Dest_Folder));
    Set_Integer_Value(ui_.EDT_Seuil_Detect, v.EDT_Seuil_Detect);
    Set_Integer_Value(ui_.EDT_Timer_Refresh, v.EDT_Timer_Refresh);
    Set_Integer_Value(ui_.EDT_Delay_Avant_Rec, v.EDT_Delay_Avant_Rec);
    Set_Integer_Value(ui_.EDT_Delay_Apres_Rec, v.EDT_Delay_Apres_Rec);
    ui_.CBX_JPEG_Size->setCurrentIndex(v.CBX_JPEG_Size);
    ui_.CKB_Use_FTP->setChecked(v.CKB_Use_FTP == 1);
    ui_.CKB_Use_Same_File_Name->setChecked(v.CKB_Use_Same_File_Name == 1);
    ui_.CKB_Add_Time_Date->setChecked(v.CKB_Add_Time_Date == 1);
    ui_.CKB_Sensitivity_Dark->setChecked(v.CKB_Sensitivity_Dark == 1);
    Set_Integer_Value(ui_.EDT_Nb_Max_File, v.EDT_Nb_Max_File);
    ui_.EDT_File_Name->setText(Text(v.EDT_File_Name));
    ui_.EDT_FTP_Server_Name->setText(Text(v.EDT_FTP_Server_Name));
    ui_.EDT_FTP_Login->setText(Text(v.EDT_FTP_Login));
    ui_.EDT_FTP_Password->setText(Text(v.EDT_FTP_Password));
}

Stored_Settings Settings_Form::Values() const {
    Stored_Settings v;
    v.RBT_Rec_Launch = (ui_.RBT_Rec_Launch_1->isChecked() ? 1 : 0) +
                       2 * (ui_.RBT_Rec_Launch_2->isChecked() ? 1 : 0);
    v.RBT_Mode_Start = ui_.RBT_Mode_Start_1->isChecked() ? 1 : 0;
    v.DED_Dest_Folder = ui_.DED_Dest_Folder->path().toStdString();
    v.EDT_Seuil_Detect = Integer_Value(ui_.EDT_Seuil_Detect);
    v.EDT_Nb_Max_File = Integer_Value(ui_.EDT_Nb_Max_File);
    v.EDT_Timer_Refresh = Integer_Value(ui_.EDT_Timer_Refresh);
    v.EDT_Delay_Avant_Rec = Integer_Value(ui_.EDT_Delay_Avant_Rec);
    v.EDT_Delay_Apres_Rec = Integer_Value(ui_.EDT_Delay_Apres_Rec);
    v.CBX_JPEG_Size = ui_.CBX_JPEG_Size->currentIndex();
    v.CKB_Add_Time_Date = ui_.CKB_Add_Time_Date->isChecked();
    v.CKB_Sensitivity_Dark = ui_.CKB_Sensitivity_Dark->isChecked();
    v.CKB_Use_FTP = ui_.CKB_Use_FTP->isChecked();
    v.CKB_Use_Same_File_Name = ui_.CKB_Use_Same_File_Name->isChecked();
    v.EDT_File_Name = Text_Of(ui_.EDT_File_Name);
    v.EDT_FTP_Server_Name = Text_Of(ui_.EDT_FTP_Server_Name);
    v.EDT_FTP_Login = Text_Of(ui_.EDT_FTP_Login);
    v.EDT_FTP_Password = Text_Of(ui_.EDT_FTP_Password);
    return v;
}

Working_Settings Settings_Form::Read_Parameters_From_Controls() {
    const Working_Settings w = Working_From(Values());
    working_.Set(w);
    emit Sampling_Period(w.Sampling_ms);
    ui_.EDT_File_Name->setEnabled(w.Use_Same_File_Name);
    ui_.LBL_File_Name->setEnabled(w.Use_Same_File_Name);
    return w;
}

} // namespace vistrel
