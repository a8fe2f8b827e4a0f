#include "options/ReportPage.h"

#include "options/OptionsWidgets.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace vantor {

ReportPage::ReportPage(std::filesystem::path browseDirectory, QWidget* parent)
    : QFrame(parent)
    , m_browseDirectory(std::move(browseDirectory))
    , m_path(lineEdit(this, "reportPath"))
    , m_autoUpdate(checkBox(this, "reportAutoUpdate", "Auto update the report"))
    , m_limit(checkBox(this, "reportLimit", "Limit report to "))
    , m_limitChoice(new QComboBox(this))
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    auto* browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setObjectName(QStringLiteral("browseReport"));
    browseButton->setAutoDefault(false);
    browseButton->setFixedWidth(browseButton->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    connect(browseButton, &QPushButton::clicked, this, &ReportPage::browse);

    m_limitChoice->setObjectName(QStringLiteral("reportLimitIndex"));
    m_limitChoice->setEditable(true);
    m_limitChoice->setInsertPolicy(QComboBox::NoInsert);
    for (const char* text : reportLimitChoices)
        m_limitChoice->addItem(QString::fromLatin1(text));
    m_limitChoice->setMaxVisibleItems(static_cast<int>(reportLimitChoices.size()));

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(browseButton);

    auto* limitRow = new QHBoxLayout;
    limitRow->addWidget(m_limit);
    limitRow->addWidget(m_limitChoice);
    limitRow->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Web-based report path and filename:"), this));
    layout->addLayout(pathRow);
    layout->addSpacing(6);
    layout->addWidget(m_autoUpdate);
    layout->addLayout(limitRow);
    layout->addStretch();
}

void ReportPage::load(const MonitorSettings& v)
{
    m_autoUpdate->setChecked(v.reportAutoUpdate != 0);
    m_path->setText(QString::fromStdString(v.reportPath.get()));
    m_limit->setChecked(v.reportLimit != 0);
    // An index outside the list shows no selection.
    m_limitChoice->setCurrentIndex(
        v.reportLimitIndex >= 0 && v.reportLimitIndex < m_limitChoice->count() ? v.reportLimitIndex : -1);
}

void ReportPage::store(MonitorSettings& v) const
{
    v.reportAutoUpdate = flag(m_autoUpdate);
    v.reportPath = m_path->text().toStdString();
    v.reportLimit = flag(m_limit);
    v.reportLimitIndex = reportLimitIndex();
}

int32_t ReportPage::reportLimitIndex() const
{
    // The edit field may hold typed text, which a combo box does not turn into a selection by
    // itself: the text selects the item it names, or nothing.
    const QString text = m_limitChoice->currentText();
    const int current = m_limitChoice->currentIndex();
    if (current >= 0 && m_limitChoice->itemText(current) == text)
        return current;
    return m_limitChoice->findText(text, Qt::MatchFixedString);
}

void ReportPage::browse()
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog, so that it looks and behaves the same on every desktop (and under test).
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilter(QStringLiteral("Web page (*.html)"));
    dialog.setDefaultSuffix(QStringLiteral("html"));
    dialog.setDirectory(QString::fromStdString(m_browseDirectory.string()));
    dialog.selectFile(QStringLiteral("report.html"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    m_path->setText(QDir::toNativeSeparators(dialog.selectedFiles().constFirst()));
}

}  // namespace vantor
