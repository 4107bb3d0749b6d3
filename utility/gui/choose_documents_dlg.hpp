// The chooser of documents of the restore page: one box of a backup file as
// a tree of its folders and documents with check boxes, their page counts,
// sizes and dates, and a filter by name. What is ticked becomes the parts of
// the box that a restore writes back.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "vtBoxBRD.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace vtutil {

// The parts of one box chosen for a restore.
struct DocumentChoice {
    bool wholeBox = false;            // every folder and document is ticked
    std::vector<VTBACKUPITEM> items;  // otherwise: whole folders and single documents
    int documents = 0;                // documents ticked
    int ofDocuments = 0;              // documents the box holds
    uint64_t bytes = 0;               // the size of those ticked
};

class CChooseDocumentsDlg : public QDialog {
    Q_OBJECT
public:
    // The tree's columns.
    enum Column { kNameColumn, kPagesColumn, kSizeColumn, kDateColumn, kColumnCount };

    // listing: one box's entries as vtBoxListBackup gives them (the box,
    // its folders each followed by its documents, its top-level documents);
    // boxText: the box as the restore page lists it; chosen: the box's
    // earlier choice, ticked when the window opens (empty: nothing ticked).
    CChooseDocumentsDlg(const std::vector<VTBACKUPENTRY> &listing, const QString &boxText,
                        const std::vector<VTBACKUPITEM> &chosen, QWidget *parent = nullptr);

    // False when the listing does not hang together (no box first, an entry
    // of another box, a document of a folder it does not list): the window
    // then shows nothing to choose from and is not to be opened.
    bool Listed() const { return listed_; }
    // What is ticked now.
    DocumentChoice Choice() const;

    QTreeWidget *Tree() const { return tree_; }
    QLineEdit *FilterEdit() const { return filter_; }
    QLabel *SummaryLabel() const { return summary_; }
    QPushButton *SelectAllButton() const { return selectAll_; }
    QPushButton *ClearAllButton() const { return clearAll_; }
    QPushButton *OkButton() const { return ok_; }

private:
    bool Fill(const std::vector<VTBACKUPENTRY> &listing);
    void Tick(const std::vector<VTBACKUPITEM> &chosen);
    // Shows only the rows whose name holds text (any case), with the
    // folders that hold them; a folder whose name holds it shows whole.
    void ApplyFilter(const QString &text);
    // Ticks or clears the documents (and empty folders) the filter shows.
    void SetShownChecked(bool checked);
    // The summary line and OK, once the ticks of one change have settled.
    void ShowChoice();

    QTreeWidget *tree_;
    QLineEdit *filter_;
    QLabel *summary_;
    QPushButton *selectAll_;
    QPushButton *clearAll_;
    QPushButton *ok_;
    QTimer *settle_;
    uint32_t box_ = 0;
    int documents_ = 0;
    bool listed_ = false;
};

}  // namespace vtutil
