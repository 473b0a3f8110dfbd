#include "SearchForm.h"

SearchForm* searchForm = nullptr;

SearchForm::SearchForm(QWidget* parent)
    : QWidget(parent)
{
    searchForm = this;
}

SearchForm::~SearchForm()
{
    if (searchForm == this)
        searchForm = nullptr;
}

