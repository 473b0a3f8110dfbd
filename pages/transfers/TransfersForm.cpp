#include "TransfersForm.h"

TransfersForm* transfersForm = nullptr;

TransfersForm::TransfersForm(QWidget* parent)
    : QWidget(parent)
{
    transfersForm = this;
}

TransfersForm::~TransfersForm()
{
    if (transfersForm == this)
        transfersForm = nullptr;
}

