// The question box that asks whether to trust a server: Yes or No, No by
// default, and No once nobody is left to answer.
#pragma once

#include "upload/trust_prompt.h"

#include <QMessageBox>
#include <QPointer>

#include <string>

class QWidget;

namespace vistrel {

class Trust_Question_Box : public Trust_Prompt {
public:
    explicit Trust_Question_Box(QWidget* parent) : parent_(parent) {}

    bool Trust(const Certificate_Error& refused) override;
    bool Trust(const Host_Key_Error& refused) override;
    void Cancel() override;

private:
    bool Ask(const std::string& question_text, const std::string& details);

    QWidget* parent_;
    QPointer<QMessageBox> open_; // open while the user decides
    bool cancelled_ = false;
};

} // namespace vistrel
