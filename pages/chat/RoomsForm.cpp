#include "RoomsForm.h"

RoomsForm* roomsForm = nullptr;

RoomsForm::RoomsForm(QWidget* parent)
    : QWidget(parent)
{
    roomsForm = this;
}

RoomsForm::~RoomsForm()
{
    if (roomsForm == this)
        roomsForm = nullptr;
}

