#include "SharesForm.h"

SharesForm* sharesForm = nullptr;

SharesForm::SharesForm(QWidget* parent)
    : QWidget(parent)
{
    sharesForm = this;
}

SharesForm::~SharesForm()
{
    if (sharesForm == this)
        sharesForm = nullptr;
}

