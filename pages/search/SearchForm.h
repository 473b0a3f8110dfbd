#pragma once
// Stand-in for the page until it is built: the class and the calls the main
// window makes, nothing more.
#include <QWidget>

class SearchForm : public QWidget {
    Q_OBJECT
public:
    explicit SearchForm(QWidget* parent = nullptr);
    ~SearchForm() override;
    void Init() { }
};

extern SearchForm* searchForm;
