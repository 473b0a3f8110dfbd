#include "FilterHelpDialog.h"
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextEdit>
#include <QVBoxLayout>

FilterHelpDialog* filterHelpDialog = nullptr;

namespace {

const char* const kHelp = R"(<p>Words restrict the shown combinations of folders and files to those
containing all of the words; the folder counts as well as the file name. For example
<b>beatles abbey</b> shows the files of an Abbey Road folder of the Beatles.</p>
<p>A word prefixed with a dash excludes the files that have it in the file or folder name.
For example <b>beatles abbey -live</b> shows the same files but none with <i>live</i> in
the file or folder name.</p>
<p>Special tokens:<br>
<b>minbitrate:</b><i>number</i> &mdash; only audio files with at least that bitrate<br>
<b>minfilesize:</b><i>number</i> &mdash; only files of at least that many MB<br>
<b>minfilesinfolder:</b><i>number</i> &mdash; only folders with at least that many files<br>
<b>isvbr</b> &mdash; only variable-bitrate audio files<br>
<b>iscbr</b> &mdash; only constant-bitrate audio files</p>
<p>Shorthands: <b>mbr</b> for minbitrate, <b>mfs</b> for minfilesize, <b>mfif</b> for
minfilesinfolder.</p>
<p>Example: <b>beatles abbey iscbr minbitrate:320 minfilesize:10 minfilesinfolder:8</b>
shows constant-bitrate files with a minimum bitrate of 320 and a minimum size of 10
megabytes, in folders with at least 8 visible (non-filtered) files.</p>
<p><b>beatles abbey iscbr mbr:320 mfs:10 mfif:8</b> is identical.</p>)";

} // namespace

FilterHelpDialog::FilterHelpDialog(QWidget* parent)
    : QDialog(parent)
{
    filterHelpDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Filter Help"));
    resize(502, 416);
    auto* layout = new QVBoxLayout(this);
    m_text = new QTextEdit(this);
    m_text->setObjectName(QStringLiteral("textEdit"));
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setHtml(QString::fromUtf8(kHelp));
    layout->addWidget(m_text);
    auto* row = new QHBoxLayout;
    row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    auto* ok = new QPushButton(tr("Ok"), this);
    row->addWidget(ok);
    row->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    layout->addLayout(row);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

FilterHelpDialog::~FilterHelpDialog()
{
    if (filterHelpDialog == this)
        filterHelpDialog = nullptr;
}

FilterHelpDialog* FilterHelpDialog::Open(QWidget* parent)
{
    if (!filterHelpDialog)
        new FilterHelpDialog(parent);
    filterHelpDialog->show();
    filterHelpDialog->raise();
    return filterHelpDialog;
}
