#include "ui/trust_question_box.h"

#include "base/program_identity.h"
#include "ui/window_modal.h"

namespace vistrel {

bool Trust_Question_Box::Trust(const Certificate_Error& refused) {
    return Ask(Trust_Question(refused), Trust_Question_Details(refused));
}

bool Trust_Question_Box::Trust(const Host_Key_Error& refused) {
    return Ask("Trust this server?", "The authenticity of host " +
                                         Host_And_Port(refused.Host(), refused.Port()) +
                                         " can't be established.\n" + refused.Key_Type() +
                                         " key fingerprint is " + refused.Fingerprint() + ".");
}

void Trust_Question_Box::Cancel() {
    cancelled_ = true;
    if (open_)
        open_->reject();
}

bool Trust_Question_Box::Ask(const std::string& question_text, const std::string& details) {
    if (cancelled_)
        return false;
    QMessageBox question(QMessageBox::Question, kApp_Name, QString::fromStdString(question_text),
                         QMessageBox::Yes | QMessageBox::No, parent_);
    question.setInformativeText(QString::fromStdString(details));
    question.setDefaultButton(QMessageBox::No);
    open_ = &question;
    const int answer = Exec_Window_Modal(question);
    open_ = nullptr;
    return answer == QMessageBox::Yes && !cancelled_;
}

} // namespace vistrel
