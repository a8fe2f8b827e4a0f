#pragma once
// The columns of a table a person arranges: the header's context menu shows and hides the columns
// that may go, a click on a column's title sorts by it (ascending, descending, then back to the
// model's own order), and which columns are hidden and how wide each is are kept in the window
// layout file under a key of the table's own.

#include <QObject>
#include <QSet>
#include <QString>

class QMenu;
class QSettings;
class QTableView;

namespace vantor {

// The window layout file: $XDG_CONFIG_HOME/vantor/layout.ini (sizes, splitters, columns).
QSettings& layoutSettings();

class TableColumns final : public QObject {
    Q_OBJECT
public:
    // `fixed` columns are always shown; `hiddenByDefault` ones start hidden until a person shows
    // them. The view's model must be set.
    TableColumns(QTableView* view, QString key, QSet<int> fixed, QSet<int> hiddenByDefault);

    QMenu* headerMenu() const { return m_menu; }
    void setColumnShown(int column, bool shown);
    // A click on a column's title.
    void clickTitle(int column);

private:
    void restore();
    void save() const;
    void rebuildMenu();

    QTableView* m_view;
    QString m_key;
    QSet<int> m_fixed;
    QMenu* m_menu;
    int m_sortColumn = -1;
    bool m_descending = false;
    bool m_restoring = false;
};

}  // namespace vantor
